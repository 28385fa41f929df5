#include "shell/StatusLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "shell/MainPanel.h"

namespace hylo {

std::string StatusLog::TimeOfDay() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

void StatusLog::Append(std::string_view text) {
  const std::string line = TimeOfDay() + " - " + std::string(text);
  mainPanel_.AppendItem(mainpanel::kStatusField, line);
  if (fileWriter_) fileWriter_(text);
}

}  // namespace hylo
