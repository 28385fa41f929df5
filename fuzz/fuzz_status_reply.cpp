// Arbitrary bytes as a status reply ("C") and as the instrument's small reports: the FFT
// and waveform blocks, the tagged records, the skip rule, and the "A", "G", "Z", "[" ... handlers.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "FuzzNodes.h"
#include "stream/HyloProcMsg.h"
#include "stream/StatusReply.h"
#include "stream/StatusStore.h"

namespace {
using hylo::fuzz::Nodes;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  hylo::HyloNodes& nodes = Nodes();
  auto sink = [&nodes](hylo::MessageNode* n) {
    nodes.ReleaseNode(n);
    return 1;
  };
  // The first byte picks the unit, the skip state and the scan interval.
  const std::uint8_t setup = data[0];
  const std::span<const std::uint8_t> reply(data + 1, size - 1);
  constexpr int kModels[] = {2, 5, 7, 15};
  constexpr double kIntervals[] = {0.001, 0.004, 0.0625, 0.25, 1.0, 0.0, -1.0, 1e9};
  hylo::StatusStore store;
  hylo::StreamStatusSink statusSink;
  statusSink.environment = [&store](std::optional<int> t, std::optional<int> h) {
    if (t) store.SetTemperature(*t);
    if (h) store.SetHumidity(*h);
  };
  statusSink.orientation = [&store](const std::array<std::int16_t, 6>& v) { store.SetOrientation(v); };
  hylo::StatusReplyHandler handler(nodes, sink);
  handler.SetStatusSink(statusSink);
  handler.SetModelCode(kModels[setup & 3]);
  handler.SetScanInterval(kIntervals[(setup >> 3) & 7]);
  if (setup & 4) handler.ArmSkip();
  handler.HandleStatusReply(reply);

  hylo::HyloProcMsg msg;
  hylo::ReplyPort port;
  port.status = &store;
  port.identity = [setup] {
    hylo::DeviceIdentity id;
    id.modelCode = static_cast<std::uint8_t>(setup);
    return id;
  };
  port.logLine = [](std::string_view line) {
    if (line.empty()) __builtin_trap();
  };
  port.epochTriggerReport = [](int index, std::span<const std::uint8_t>) {
    if (index < 0 || index >= 6) __builtin_trap();
  };
  msg.RegisterReportHandlers(port);
  msg.TimeSynced(reply);
  msg.GainReport(reply);
  msg.BatteryReport(reply);
  msg.SyncReport(reply);
  msg.EpochTriggerReport(reply);
  msg.EpochReport(reply);
  msg.EpochRemoval(reply);
  msg.EpochState(reply);
  if (store.Copy().batteryLevel < 0) __builtin_trap();
  // Every record made was handed on and freed.
  if (nodes.FreeCount() != hylo::kNodeCount) __builtin_trap();
  return 0;
}
