#pragma once
// The one way the core speaks to the operator: notices, questions, file and folder
// choice, text prompts. The desktop app answers with dialogs; tests and the CLI script it.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hylo {

class OperatorPort {
 public:
  virtual ~OperatorPort() = default;
  // Safe from any thread: the text is copied and shown later on the UI thread as a modal
  // box titled "Hylo"; never before the event loop runs or after it has ended.
  virtual void ShowNotice(std::string_view text) = 0;
  // UI thread only. Returns the index of the button chosen (0 = first).
  virtual int Confirm(std::string_view title, std::string_view text, const std::vector<std::string>& buttons) = 0;
  // Yes/No question titled "Confirm": true for yes.
  bool ConfirmYesNo(std::string_view text) { return Confirm("Confirm", text, {"Yes", "No"}) == 0; }
  // UI thread only. Empty when the operator cancels.
  virtual std::optional<std::filesystem::path> ChooseFile(std::string_view title, const std::filesystem::path& folder,
                                                          std::string_view pattern, bool forSaving) = 0;
  virtual std::optional<std::filesystem::path> ChooseFolder(std::string_view title,
                                                            const std::filesystem::path& folder) = 0;
  virtual std::optional<std::string> PromptText(std::string_view title, std::string_view text,
                                                std::string_view initial) = 0;
};

}  // namespace hylo
