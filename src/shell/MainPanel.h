#pragma once
// Control names of the main panel model.
namespace hylo::mainpanel {

inline constexpr const char* kTitle = "title";
inline constexpr const char* kStatusField = "statusField";
inline constexpr const char* kLogIndicator = "logIndicator";    // tooltip "0%"
inline constexpr const char* kSyncIndicator = "syncIndicator";  // tooltip "Not Synced"
inline constexpr const char* kUnitLine = "unitLine";

inline constexpr const char* kWindowTitle = "Hylo v4.4.0";

}  // namespace hylo::mainpanel
