#pragma once
// `hylo-cli files`: the instrument's storage from scripts and unattended stations: list, get,
// put, rm, update, clear. JSON on stdout; exit 0 when all was done, 1 when anything failed
// (the message on stderr), 2 for bad options.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "CliContext.h"

namespace hylo::cli {

struct FilesOptions {
  LinkOptions link;
  std::string action;  // list, get, put, rm, update, clear
  std::vector<std::string> args;
  bool recursive = false;
  std::string to;
  std::string password;
};

CLI::App* AddFilesOptions(CLI::App& app, FilesOptions& o);
int Files(const FilesOptions& o);

}  // namespace hylo::cli
