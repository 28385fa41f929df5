#pragma once
// The pure rules of the setup exchange with a unit: how many reply frames an enquiry
// expects, how the replies are counted, which records await a reply, and the echo check.
// The sending itself belongs to the command layer.
#include <cstdint>
#include <span>
#include <string_view>

#include "config/HyloSetup.h"

namespace hylo::setup {

inline constexpr std::uint16_t kSetupEnquiryValue = 20;  // "F" payload: u16 20

// 1 for LF, AF and HF from 2.0.0; 4 for HF from 1.5.0; 3 for older HF; 1 otherwise.
int ExpectedSetupReplyFrames(const SetupContext& ctx);
// Frames in a reply buffer: each starts with "*" and spans 4 + its u16 length at +2. A
// frame whose 4-byte header does not fit in the bytes is not counted.
int CountReplyFrames(std::span<const std::uint8_t> bytes);
// A `StartTimeSetup` sent to HF-family firmware below 1.6.0 gets no reply.
bool SetupRecordAwaitsReply(const SetupContext& ctx, std::uint16_t recordType);
// The echo of a sent record: LF compares the first (length − 8) bytes, HF family from
// 1.3.0 all bytes except the last (reserved) byte of a `WaveSetup`, older HF nothing.
// An echo shorter than what is compared fails.
bool SetupEchoMatches(const SetupContext& ctx, std::span<const std::uint8_t> sent,
                      std::span<const std::uint8_t> echoPayload);

// The setup reader: one "F" reply payload (status byte, record) onto the panel. Returns the
// notices to show: the unit's error record, an unrecognized or short record, or the
// data-rate warning after a `SetupParamList`, `LfSetup` or `WaveSetup`. A nonzero status
// or empty payload changes nothing.
Notices ReadSetupReply(JobSetup& s, const SetupContext& ctx, std::span<const std::uint8_t> payload,
                       std::uint32_t now);

inline constexpr std::string_view kCheckConnectionText = "Please check your connection and try again.";
inline constexpr std::string_view kLfSetupFailedText =
    "Error: Job Setup Failed.\nPlease check your settings and try again.\nIf problems persist, you may wish to "
    "increase your connection timeout\n(Establish a new connection on the Link tab).";
inline constexpr std::string_view kHfSetupFailedText =
    "Error: Job Setup Failed.\nPlease check your settings and try again.\n\nIf problems persist, you may wish to "
    "increase your connection timeout\n(Establish a new connection on the Link tab).";
inline constexpr std::string_view kParamListFailedText = "Error: Setup failed";
inline constexpr std::string_view kResetSpecialFeaturesText =
    "This will also reset Special Features.\nWould you like to continue?";
inline constexpr std::string_view kResetAurisondSetupText =
    "This will also reset Aurisond Setup.\nWould you like to continue?";

}  // namespace hylo::setup
