#pragma once
// Control names of the main panel model.
#include <cstdint>

namespace hylo::mainpanel {

inline constexpr const char* kTitle = "title";
inline constexpr const char* kStatusField = "statusField";
inline constexpr const char* kLogIndicator = "logIndicator";    // tooltip "0%"
inline constexpr const char* kSyncIndicator = "syncIndicator";  // tooltip "Not Synced"
inline constexpr const char* kUnitLine = "unitLine";
// Colour (0xRRGGBB) while a link is in use, 0 when none.
inline constexpr const char* kConnectionIndicator = "connectionIndicator";
inline constexpr std::int64_t kLinkInUseColour = 0xBDBB8A;

inline constexpr const char* kWindowTitle = "Hylo v4.4.0";
// The instrument's text messages, one line with the time of day.
inline constexpr const char* kMessageLine = "messageLine";
// Visible while either setup panel is open.
inline constexpr const char* kSetupOpenIndicator = "setupOpen";
// The logging indicator and the label naming the kinds of log that are on.
inline constexpr const char* kLogKindsLabel = "logKinds";
inline constexpr const char* kLogKindsIndicator = "logKindsIndicator";
inline constexpr const char* kLogStatusField = "logStatus";

}  // namespace hylo::mainpanel

// The scanning controls of the main panel.
namespace hylo::scanpanel {
inline constexpr const char* kStart = "startScanning";
inline constexpr const char* kPause = "pauseScanning";
inline constexpr const char* kStop = "stopScanning";
}  // namespace hylo::scanpanel
