#pragma once
// Where the platform keeps a user's documents and per-user settings.
#include <filesystem>
#include <system_error>

namespace hylo::platform {

std::filesystem::path DocumentsFolder();
std::filesystem::path UserConfigFolder();
// The folder of the running program (for files shipped beside it).
std::filesystem::path ProgramFolder();
// Creates the folder and every missing parent; true when it exists afterwards.
bool CreateFolderPath(const std::filesystem::path& folder, std::error_code& error);

}  // namespace hylo::platform
