#include "shell/ScriptedOperator.h"

#include <chrono>

namespace hylo {

void ScriptedOperator::ShowNotice(std::string_view text) {
  std::function<void(std::string_view)> echo;
  {
    std::lock_guard guard(mutex_);
    notices_.emplace_back(text);
    echo = echo_;
  }
  changed_.notify_all();
  if (echo) echo(text);
}

int ScriptedOperator::Confirm(std::string_view title, std::string_view text, const std::vector<std::string>& buttons) {
  std::lock_guard guard(mutex_);
  questions_.push_back(std::string(title) + ": " + std::string(text));
  int answer = defaultButton_;
  if (!buttons_.empty()) {
    answer = buttons_.front();
    buttons_.pop_front();
  }
  if (buttons.empty()) return 0;
  return answer < static_cast<int>(buttons.size()) ? answer : static_cast<int>(buttons.size()) - 1;
}

std::optional<std::filesystem::path> ScriptedOperator::ChooseFile(std::string_view, const std::filesystem::path&,
                                                                  std::string_view, bool) {
  std::lock_guard guard(mutex_);
  if (paths_.empty()) return std::nullopt;
  auto path = paths_.front();
  paths_.pop_front();
  return path;
}

std::optional<std::filesystem::path> ScriptedOperator::ChooseFolder(std::string_view title,
                                                                    const std::filesystem::path& folder) {
  return ChooseFile(title, folder, "", false);
}

std::optional<std::string> ScriptedOperator::PromptText(std::string_view, std::string_view, std::string_view) {
  std::lock_guard guard(mutex_);
  if (texts_.empty()) return std::nullopt;
  auto text = texts_.front();
  texts_.pop_front();
  return text;
}

void ScriptedOperator::QueueButton(int index) {
  std::lock_guard guard(mutex_);
  buttons_.push_back(index);
}
void ScriptedOperator::QueuePath(std::filesystem::path path) {
  std::lock_guard guard(mutex_);
  paths_.push_back(std::move(path));
}
void ScriptedOperator::QueueText(std::string text) {
  std::lock_guard guard(mutex_);
  texts_.push_back(std::move(text));
}

std::vector<std::string> ScriptedOperator::Notices() const {
  std::lock_guard guard(mutex_);
  return notices_;
}
std::vector<std::string> ScriptedOperator::Questions() const {
  std::lock_guard guard(mutex_);
  return questions_;
}

bool ScriptedOperator::WaitForNotices(std::size_t count, int timeoutMs) const {
  std::unique_lock guard(mutex_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return notices_.size() >= count; });
}

}  // namespace hylo
