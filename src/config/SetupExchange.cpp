#include "config/SetupExchange.h"

#include <algorithm>
#include <type_traits>
#include <variant>

#include "config/SetupDerived.h"
#include "link/DeviceIdentity.h"
#include "wire/Bytes.h"

namespace hylo::setup {

int ExpectedSetupReplyFrames(const SetupContext& ctx) {
  if (ctx.model == kModelHf) {
    if (ctx.firmware >= Firmware(2, 0, 0)) return 1;
    if (ctx.firmware >= Firmware(1, 5, 0)) return 4;
    return 3;
  }
  return 1;
}

int CountReplyFrames(std::span<const std::uint8_t> bytes) {
  int frames = 0;
  std::size_t at = 0;
  while (at < bytes.size() && bytes[at] == '*') {
    if (bytes.size() - at < 4) break;
    ++frames;
    at += 4 + static_cast<std::size_t>(bytes::GetU16LE(bytes, at + 2));
  }
  return frames;
}

bool SetupRecordAwaitsReply(const SetupContext& ctx, std::uint16_t recordType) {
  return !(recordType == kStartTimeSetupType && ctx.IsHfFamily() && ctx.firmware < Firmware(1, 6, 0));
}

bool SetupEchoMatches(const SetupContext& ctx, std::span<const std::uint8_t> sent,
                      std::span<const std::uint8_t> echoPayload) {
  std::size_t compared = 0;
  if (ctx.IsLf()) {
    compared = sent.size() > 8 ? sent.size() - 8 : 0;
  } else {
    if (ctx.firmware < Firmware(1, 3, 0)) return true;
    compared = sent.size();
    if (sent.size() == kWaveSetupSize && bytes::GetU16LE(sent, 0) == kWaveSetupType) compared -= 1;
  }
  if (echoPayload.size() < compared) return false;
  return std::equal(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(compared), echoPayload.begin());
}

Notices ReadSetupReply(JobSetup& s, const SetupContext& ctx, std::span<const std::uint8_t> payload, std::uint32_t now) {
  Notices notices;
  const auto parsed = ParseSetupEnquiryPayload(payload);
  if (!parsed) return notices;
  if (!parsed->record) {
    notices.emplace_back(kUnrecognizedSetupText);
    return notices;
  }
  bool checkRate = false;
  std::visit(
      [&](const auto& r) {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, SetupErrorRecord>) {
          notices.push_back(RetrieveSetupErrorText(r.code));
        } else if constexpr (std::is_same_v<T, WaveSetup>) {
          checkRate = ReadBack(s, ctx, r);
        } else if constexpr (std::is_same_v<T, FftSetup>) {
          ReadBack(s, ctx, r);
        } else if constexpr (std::is_same_v<T, LfSetup>) {
          checkRate = ReadBack(s, r);
        } else if constexpr (std::is_same_v<T, DutyCycleSetup>) {
          ReadBack(s, r);
        } else if constexpr (std::is_same_v<T, LegacyDutyCycleSetup> || std::is_same_v<T, StartTimeSetup>) {
          ReadBack(s, r, now);
        } else if constexpr (std::is_same_v<T, SetupParamValues>) {
          ReadBack(s, ctx, r, now);
          checkRate = true;
        }
      },
      *parsed->record);
  if (checkRate && DataRateExceedsLink(s, ctx)) notices.emplace_back(kDataRateExceedsText);
  return notices;
}

}  // namespace hylo::setup
