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

}  // namespace hylo::mainpanel
