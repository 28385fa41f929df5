#pragma once
// An operator that answers file and folder dialogs with queued paths and keeps each dialog's
// title and folder.
#include <deque>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "shell/OperatorPort.h"

namespace hylo::test {

class DialogOperator final : public OperatorPort {
 public:
  std::vector<std::pair<std::string, std::filesystem::path>> dialogs;
  std::deque<std::filesystem::path> answers;
  std::vector<std::string> notices;

  void ShowNotice(std::string_view text) override { notices.emplace_back(text); }
  int Confirm(std::string_view, std::string_view, const std::vector<std::string>&) override { return 1; }
  std::optional<std::filesystem::path> ChooseFile(std::string_view title, const std::filesystem::path& folder,
                                                  std::string_view, bool) override {
    return Answer(title, folder);
  }
  std::optional<std::filesystem::path> ChooseFolder(std::string_view title,
                                                    const std::filesystem::path& folder) override {
    return Answer(title, folder);
  }
  std::optional<std::string> PromptText(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }

 private:
  std::optional<std::filesystem::path> Answer(std::string_view title, const std::filesystem::path& folder) {
    dialogs.emplace_back(std::string(title), folder);
    if (answers.empty()) return std::nullopt;
    auto p = answers.front();
    answers.pop_front();
    return p;
  }
};

}  // namespace hylo::test
