#include "context/MainCommands.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "context/Hylo.h"
#include "link/CommandLetters.h"
#include "link/DeviceIdentity.h"
#include "platform/Folders.h"

namespace hylo {
namespace {

bool KnownModel(int model) { return model == kModelLf || model == kModelHf || model == kModelAf; }
bool EthernetModel(int model) { return model == kModelHf || model == kModelAf; }

// Which unit, firmware and link each control needs; the one place that decides the dimming.
struct ControlRule {
  MainControl control;
  bool needsLink;
  bool needsKnownModel;
  bool needsEthernetModel;
  bool needsEthernetLink;
};
constexpr std::array kRules{
    // The enquiry explains itself without a link.
    ControlRule{MainControl::kEnquireStatus, false, false, false, false},
    ControlRule{MainControl::kReset, true, true, false, false},
    ControlRule{MainControl::kStandby, true, true, false, false},
    ControlRule{MainControl::kResetPassword, true, true, false, false},
    ControlRule{MainControl::kWebServer, true, true, true, true},
    ControlRule{MainControl::kDataAccess, true, true, false, false},
    ControlRule{MainControl::kEpochMessages, false, false, false, false},
    ControlRule{MainControl::kOrientation, false, false, false, false},
    ControlRule{MainControl::kCalibration, false, false, false, false},
};

}  // namespace

std::string ScreenshotFileName(const std::tm& t) {
  std::array<char, 64> name{};
  std::snprintf(name.data(), name.size(), "Screenshot_%02d%02d%02d_%02d%02d%02d.png", (t.tm_year + 1900) % 100,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return name.data();
}

int WebServerPort(int portBase) { return portBase == 0 ? 80 : 8080 + portBase; }

std::string WebServerUrl(std::string_view address, int portBase) {
  return "http://" + std::string(address) + ":" + std::to_string(WebServerPort(portBase));
}

DataAccess ChooseDataAccess(int modelCode, Firmware firmware, std::string_view address, int portBase, bool ethernet) {
  if (!EthernetModel(modelCode) || !ethernet) return {DataAccessKind::kSerialFiles, {}};
  if (firmware >= Firmware(2, 0, 0)) return {DataAccessKind::kFtpFiles, {}};
  const char* page = firmware >= Firmware(1, 8, 0) ? "/data/retrieve.html" : "/data/";
  return {DataAccessKind::kWebPage, WebServerUrl(address, portBase) + page};
}

bool ControlEnabled(MainControl control, const ControlState& s) {
  for (const ControlRule& r : kRules) {
    if (r.control != control) continue;
    if (r.needsLink && !s.linkInUse) return false;
    if (r.needsKnownModel && !KnownModel(s.modelCode)) return false;
    if (r.needsEthernetModel && !EthernetModel(s.modelCode)) return false;
    if (r.needsEthernetLink && !s.ethernet) return false;
    return true;
  }
  return false;
}

const std::vector<MainControl>& AllMainControls() {
  static const std::vector<MainControl> all = [] {
    std::vector<MainControl> v;
    for (const ControlRule& r : kRules) v.push_back(r.control);
    return v;
  }();
  return all;
}

ControlState MainCommands::State() const {
  const DeviceIdentity unit = hylo_.Connection().Identity();
  const int type = hylo_.Connection().ConnectionType();
  return {type != LINK_NONE, type == LINK_ETHERNET, unit.modelCode, Firmware::Parse(unit.firmwareText)};
}

bool MainCommands::LinkInUse() const { return hylo_.Connection().ConnectionType() != LINK_NONE; }

int MainCommands::RequireLink() {
  if (LinkInUse()) return 0;
  hylo_.Operator().ShowNotice(kNoConnectionText);
  return -1;
}

int MainCommands::EnquireStatus() {
  if (!LinkInUse()) {
    hylo_.Operator().ShowNotice(kNoConnectionText);
    hylo_.Connection().ResetConnectionDisplay();
    if (hooks_.showConnectionPage) hooks_.showConnectionPage();
    return -1;
  }
  hylo_.Status().Append("Enquiring Instrument...");
  // A press while the last one is still being queued adds nothing.
  if (enquiring_.exchange(true)) return 0;
  const int rc = hylo_.Link().Comms().SendCommand(cmd::kIdentify, 0, {}, nullptr, nullptr, nullptr, 0, true);
  enquiring_ = false;
  if (rc != 0) hylo_.Connection().ForgetModel();
  return rc;
}

int MainCommands::SendRebootCmd(bool standby) {
  if (const int rc = RequireLink(); rc != 0) return rc;
  if (!hylo_.Operator().ConfirmYesNo(standby ? kStandbyQuestion : kResetQuestion)) return 0;
  return hylo_.Link().Comms().SendCommand(cmd::kReboot, 0, {});
}

int MainCommands::SendResetPassword() {
  if (const int rc = RequireLink(); rc != 0) return rc;
  if (!hylo_.Operator().ConfirmYesNo(kPasswordQuestion)) return 0;
  return hylo_.Link().Comms().SendCommand(cmd::kPasswordReset, 0, {});
}

int MainCommands::OpenWebServer() {
  if (const int rc = RequireLink(); rc != 0) return rc;
  if (hooks_.openUrl) hooks_.openUrl(WebServerUrl(hylo_.Connection().HostAddress(), hylo_.Connection().PortBase()));
  return 0;
}

int MainCommands::OpenDataAccess() {
  const ControlState s = State();
  const DataAccess access = ChooseDataAccess(s.modelCode, s.firmware, hylo_.Connection().HostAddress(),
                                             hylo_.Connection().PortBase(), s.ethernet);
  if (access.kind == DataAccessKind::kWebPage) {
    if (hooks_.openUrl) hooks_.openUrl(access.url);
  } else if (hooks_.openFiles) {
    hooks_.openFiles(access.kind);
  }
  return 0;
}

std::filesystem::path MainCommands::NextScreenshotPath() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::filesystem::path folder = hylo_.Groups().main.screenshotPath;
  if (folder.empty()) folder = hylo_.DataFolder();
  std::error_code error;
  platform::CreateFolderPath(folder, error);
  return folder / ScreenshotFileName(local);
}

}  // namespace hylo
