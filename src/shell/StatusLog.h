#pragma once
// The main window's status field: one line per configuration step or event. The job
// status file gets the same lines once it is open.
#include <functional>
#include <string>
#include <string_view>

#include "shell/PanelModel.h"

namespace hylo {

class StatusLog {
 public:
  explicit StatusLog(PanelModel& mainPanel) : mainPanel_(mainPanel) {}
  // "HH:MM:SS - text" into the status field (and the job status file).
  void Append(std::string_view text);
  // Where the job status file writer plugs in.
  void SetFileWriter(std::function<void(std::string_view)> writer) { fileWriter_ = std::move(writer); }
  static std::string TimeOfDay();

 private:
  PanelModel& mainPanel_;
  std::function<void(std::string_view)> fileWriter_;
};

}  // namespace hylo
