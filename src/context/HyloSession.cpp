#include "context/HyloSession.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "config/SetupFile.h"
#include "context/Hylo.h"
#include "link/HyloConnect.h"
#include "link/LinkState.h"

namespace hylo {
namespace {
// The identify reply reaches the identity through the reply handlers, a moment after the
// connect step returns.
constexpr auto kIdentityWait = std::chrono::seconds(3);
constexpr auto kIdentityStep = std::chrono::milliseconds(10);
}  // namespace

SessionResult HyloSession::Connect(const TcpTarget& target) {
  const std::string where = target.host + ":" + std::to_string(target.port);
  if (target.host.empty() || target.port <= 0 || target.port > 65535) return SessionResult::Fail("no address given");
  ConnectRequest request;
  request.op = kOpConnectTcp;
  const std::size_t n = std::min(target.host.size(), sizeof request.address - 1);
  std::copy_n(target.host.data(), n, request.address);
  request.port = static_cast<std::uint16_t>(target.port);
  request.timeoutMs = target.timeoutMs;
  if (hylo_.Connection().HandleConnectRequest(request) != 0) return SessionResult::Fail("no unit answered at " + where);
  return AwaitIdentity(where);
}

SessionResult HyloSession::Connect(const SerialTarget& target) {
  if (target.device.empty()) return SessionResult::Fail("no serial device given");
  HyloConnect& connection = hylo_.Connection();
  hylo_.Groups().connection.commSerialDevice = target.device;
  connection.RefreshPorts();
  ConnectRequest request;
  request.op = kOpConnectSerial;
  request.port = static_cast<std::uint16_t>(connection.Ports().NumberOf(target.device));
  request.baud = target.baud;
  request.timeoutMs = std::max(target.timeoutMs, SerialTimeoutForBaud(target.baud));
  if (connection.HandleConnectRequest(request) != 0) return SessionResult::Fail("no unit answered at " + target.device);
  return AwaitIdentity(target.device);
}

SessionResult HyloSession::AwaitIdentity(const std::string& where) {
  const auto until = std::chrono::steady_clock::now() + kIdentityWait;
  while (Unit().modelCode == 0) {
    if (std::chrono::steady_clock::now() >= until)
      return SessionResult::Fail("the unit at " + where + " did not identify itself");
    std::this_thread::sleep_for(kIdentityStep);
  }
  return {};
}

void HyloSession::Disconnect() {
  ConnectRequest request;
  request.op = kOpDisconnect;
  hylo_.Connection().HandleConnectRequest(request);
}

DeviceIdentity HyloSession::Unit() const { return hylo_.Connection().Identity(); }

int HyloSession::LinkType() const { return hylo_.Connection().ConnectionType(); }

SessionResult HyloSession::ReadJobSetup() {
  const setup::SetupContext ctx = hylo_.JobSetup().Context();
  if (!ctx.IsLf() && !ctx.IsHfFamily()) return {};
  if (hylo_.JobSetup().ReadJobSetup() != 0) return SessionResult::Fail("could not read the job setup");
  return {};
}

SessionResult HyloSession::ApplySetupFile(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return SessionResult::Fail("the setup file cannot be read");
  const setup::SetupContext ctx = hylo_.JobSetup().Context();
  if (!ctx.IsHfFamily()) return SessionResult::Fail("setup files hold Aurisond HF and AF setups; this unit is not one");
  setup::Notices notices;
  hylo_.JobSetup().EditSetup([&](setup::JobSetup& s) {
    setup::ReadSetupFile(file, s, ctx, notices, static_cast<std::uint32_t>(std::time(nullptr)));
  });
  for (const auto& text : notices) hylo_.Operator().ShowNotice(text);
  hylo_.JobSetup().MarkChanged(setup::UnitTab::kHf);
  return ApplyJobSetup();
}

SessionResult HyloSession::ApplyJobSetup() {
  if (hylo_.JobSetup().ApplyUnitSetup() != 0) return SessionResult::Fail("the setup was not applied");
  return {};
}

SessionResult HyloSession::Start() {
  hylo_.Scan().StartScanningCallback();
  hylo_.Scan().WaitForChannels();
  if (!hylo_.Scan().Active()) return SessionResult::Fail("scanning did not start");
  return {};
}

void HyloSession::Pause() { hylo_.Scan().PauseCallback(); }

void HyloSession::Stop() { hylo_.Scan().StopCallback(); }

bool HyloSession::Scanning() const { return hylo_.Scan().Active(); }

CommandReply HyloSession::SendCommand(std::uint8_t letter, std::span<const std::uint8_t> payload, int expectedReplies) {
  return hylo_.Link().Comms().SendCommand(letter, payload, expectedReplies);
}

}  // namespace hylo
