#pragma once
// The main window's instrument commands (status enquiry, reset, standby, password reset, the
// unit's web pages and files), the screenshot file name, and the one table that says which
// main-window controls a unit, its firmware and the link allow.
#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/Firmware.h"

namespace hylo {

class Hylo;

// "Screenshot_YYMMDD_HHMMSS.png" for a local time.
std::string ScreenshotFileName(const std::tm& local);

// The instrument's web server port: 80, or 8080 + portBase when a port base is set.
int WebServerPort(int portBase);
std::string WebServerUrl(std::string_view address, int portBase);

enum class DataAccessKind { kSerialFiles, kFtpFiles, kWebPage };
struct DataAccess {
  DataAccessKind kind = DataAccessKind::kSerialFiles;
  std::string url;  // the page to open for kWebPage
  friend bool operator==(const DataAccess&, const DataAccess&) = default;
};
// How the unit's stored data are reached: the file panel over the command link, over FTP
// (Ethernet models from 2.0.0) or the unit's own data pages. FTP and web pages need the unit
// on Ethernet; over a serial link the file panel uses the command link whatever the model.
DataAccess ChooseDataAccess(int modelCode, Firmware firmware, std::string_view address, int portBase,
                            bool ethernet = true);

inline constexpr std::string_view kResetQuestion =
    "This resets the connected hydrophone, ensure external power remains connected.\nAre you sure you wish to "
    "proceed?";
inline constexpr std::string_view kStandbyQuestion =
    "This puts the connected hydrophone into low power standby mode, until external power is applied\nAfter "
    "confirming please disconnect external power.\nAre you sure you wish to proceed?";
inline constexpr std::string_view kPasswordQuestion =
    "This resets the password of the connected hydrophone to its default.\nAre you sure you wish to proceed?";
inline constexpr std::string_view kNoConnectionText = "No Active Connection.";

// The main window's controls whose enabling depends on the unit.
enum class MainControl {
  kEnquireStatus,
  kReset,
  kStandby,
  kResetPassword,
  kWebServer,
  kDataAccess,
  kEpochMessages,
  kOrientation,
  kCalibration,
};
struct ControlState {
  bool linkInUse = false;
  bool ethernet = false;
  int modelCode = 0;
  Firmware firmware;
};
bool ControlEnabled(MainControl control, const ControlState& state);
// Every control of the table, for front ends that dim them all at once.
const std::vector<MainControl>& AllMainControls();

class MainCommands {
 public:
  struct Hooks {
    std::function<void(const std::string&)> openUrl;  // the desktop's browser
    std::function<void(DataAccessKind)> openFiles;    // the file panel, serial or FTP
    std::function<void()> showConnectionPage;         // the link page of the setup panel
  };
  MainCommands(Hylo& hylo, Hooks hooks) : hylo_(hylo), hooks_(std::move(hooks)) {}

  // Each returns 0 when done or declined, 12 when the command could not be queued, −1 without a link.
  int EnquireStatus();
  int SendRebootCmd(bool standby);
  int SendResetPassword();
  int OpenWebServer();
  int OpenDataAccess();
  // The screenshot's full path for the current local time, its folder made first.
  std::filesystem::path NextScreenshotPath() const;
  ControlState State() const;

 private:
  bool LinkInUse() const;
  int RequireLink();

  Hylo& hylo_;
  Hooks hooks_;
  std::atomic<bool> enquiring_{false};
};

}  // namespace hylo
