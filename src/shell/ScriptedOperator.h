#pragma once
// An operator port without a screen: notices are recorded (and optionally echoed to a
// stream), questions take scripted answers or their default.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "shell/OperatorPort.h"

namespace hylo {

class ScriptedOperator final : public OperatorPort {
 public:
  void ShowNotice(std::string_view text) override;
  int Confirm(std::string_view title, std::string_view text, const std::vector<std::string>& buttons) override;
  std::optional<std::filesystem::path> ChooseFile(std::string_view title, const std::filesystem::path& folder,
                                                  std::string_view pattern, bool forSaving) override;
  std::optional<std::filesystem::path> ChooseFolder(std::string_view title,
                                                    const std::filesystem::path& folder) override;
  std::optional<std::string> PromptText(std::string_view title, std::string_view text,
                                        std::string_view initial) override;

  // Answers used in order; when none is left, questions get `defaultButton`, choices none.
  void QueueButton(int index);
  void QueuePath(std::filesystem::path path);
  void QueueText(std::string text);
  void SetDefaultButton(int index) { defaultButton_ = index; }
  // Also called for every notice (the CLI prints them to stderr).
  void SetEcho(std::function<void(std::string_view)> echo) { echo_ = std::move(echo); }

  std::vector<std::string> Notices() const;
  std::vector<std::string> Questions() const;
  // Waits up to timeoutMs for at least `count` notices; true when they came.
  bool WaitForNotices(std::size_t count, int timeoutMs) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> notices_;
  std::vector<std::string> questions_;
  std::deque<int> buttons_;
  std::deque<std::filesystem::path> paths_;
  std::deque<std::string> texts_;
  int defaultButton_ = 1;  // "No" / "Cancel": the safe answer
  std::function<void(std::string_view)> echo_;
};

}  // namespace hylo
