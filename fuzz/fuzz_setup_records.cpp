// Arbitrary bytes to every setup record unpacker, the read-back rules and the setup-file
// reader, all from memory.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <variant>

#include "config/SetupDerived.h"
#include "config/SetupExchange.h"
#include "config/SetupFile.h"
#include "config/SetupRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace hylo::setup;
  const std::span<const std::uint8_t> bytes(data, size);

  (void)UnpackLfSetup(bytes);
  (void)UnpackWaveSetup(bytes);
  (void)UnpackFftSetup(bytes);
  (void)UnpackLegacyDutyCycleSetup(bytes);
  (void)UnpackStartTimeSetup(bytes);
  (void)UnpackDutyCycleSetup(bytes);
  (void)UnpackSetupError(bytes);
  (void)UnpackSetupParamList(bytes);
  (void)ParseSetupEnquiryPayload(bytes);
  (void)ClassifySetupResult(bytes);
  (void)CheckSetupRecord(bytes);
  (void)CountReplyFrames(bytes);

  // Whatever parses goes onto a panel, as a reply from the unit would.
  SetupContext ctx;
  ctx.model = size > 0 && (data[0] & 1) ? 2 : 5;
  ctx.firmware = size > 1 ? static_cast<std::uint32_t>(data[size - 1]) << 16 : 0x20100;
  ctx.featureLevel = 2;
  JobSetup panel;
  const SetupParseResult parsed = ParseSetupRecord(bytes);
  if (parsed.record) {
    std::visit(
        [&](const auto& r) {
          using T = std::decay_t<decltype(r)>;
          if constexpr (std::is_same_v<T, WaveSetup> || std::is_same_v<T, FftSetup>)
            (void)ReadBack(panel, ctx, r);
          else if constexpr (std::is_same_v<T, LfSetup>)
            (void)ReadBack(panel, r);
          else if constexpr (std::is_same_v<T, DutyCycleSetup>)
            ReadBack(panel, r);
          else if constexpr (std::is_same_v<T, LegacyDutyCycleSetup> || std::is_same_v<T, StartTimeSetup>)
            ReadBack(panel, r, 1'700'000'000u);
          else if constexpr (std::is_same_v<T, SetupParamValues>)
            ReadBack(panel, ctx, r, 1'700'000'000u);
        },
        *parsed.record);
    Notices notices;
    (void)BuildSetupParamEntries(panel, ctx, notices);
    (void)BuildLfSetup(panel);
    (void)ScanInterval(panel, ctx, std::nullopt);
    (void)EstimatedDataRate(panel, ctx);
    // The unit echoing these bytes back to what the panel would send.
    const auto wave = Pack(BuildWaveSetup(panel, ctx, notices));
    (void)SetupEchoMatches(ctx, wave, bytes);
  }

  // The same bytes as an "F" reply payload through the setup reader.
  JobSetup replyPanel;
  (void)ReadSetupReply(replyPanel, ctx, bytes, 1'700'000'000u);

  // The same bytes as a setup file.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Notices notices;
  JobSetup filePanel;
  ApplySetupFileRecords(filePanel, ctx, SetupFileToRecords(ParseSetupFileText(text), notices), 0);
  return 0;
}
