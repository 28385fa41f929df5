#include "link/EpochTrigger.h"

#include <algorithm>
#include <cassert>

#include "wire/Bytes.h"

namespace hylo {

using namespace bytes;

std::array<std::uint8_t, kEpochRecordBytes> EpochTrigger::Encode() const {
  std::array<std::uint8_t, kEpochRecordBytes> b{};
  PutU16LE(b, 0, type);
  b[2] = slot;
  b[3] = active;
  PutU16LE(b, 4, dur);
  PutU16LE(b, 6, extend);
  PutU32LE(b, 8, minFreq);
  PutU32LE(b, 12, maxFreq);
  PutU16LE(b, 16, refType);
  PutU16LE(b, 18, static_cast<std::uint16_t>(threshold));
  PutU16LE(b, 20, effect);
  PutU16LE(b, 22, preTrig);
  return b;
}

EpochTrigger EpochTrigger::Decode(std::span<const std::uint8_t> b) {
  assert(b.size() >= kEpochRecordBytes);
  EpochTrigger t;
  t.type = GetU16LE(b, 0);
  t.slot = b[2];
  t.active = b[3];
  t.dur = GetU16LE(b, 4);
  t.extend = GetU16LE(b, 6);
  t.minFreq = GetU32LE(b, 8);
  t.maxFreq = GetU32LE(b, 12);
  t.refType = GetU16LE(b, 16);
  t.threshold = GetI16LE(b, 18);
  t.effect = GetU16LE(b, 20);
  t.preTrig = GetU16LE(b, 22);
  return t;
}

std::array<std::uint8_t, kLfEpochRecordBytes> LfEpochTrigger::Encode() const {
  std::array<std::uint8_t, kLfEpochRecordBytes> b{};
  PutU16LE(b, 0, kind);
  PutU16LE(b, 2, firstDuration);
  PutU16LE(b, 4, secondDuration);
  PutU16LE(b, 6, lowBin);
  PutU16LE(b, 8, highBin);
  PutU16LE(b, 10, actions);
  PutU32LE(b, 12, thresholdCode);
  return b;
}

LfEpochTrigger LfEpochTrigger::Decode(std::span<const std::uint8_t> b) {
  assert(b.size() >= kLfEpochRecordBytes);
  return {GetU16LE(b, 0), GetU16LE(b, 2),  GetU16LE(b, 4), GetU16LE(b, 6),
          GetU16LE(b, 8), GetU16LE(b, 10), GetU32LE(b, 12)};
}

std::array<std::uint8_t, kClickRecordBytes> ClickTriggerRecord::Encode() const {
  std::array<std::uint8_t, kClickRecordBytes> b{};
  PutU16LE(b, 0, kClickTrigger);
  b[2] = static_cast<std::uint8_t>(kClickSlot);
  b[3] = enabled;
  PutU16LE(b, 4, effect);
  PutU16LE(b, 6, durationSeconds);
  PutU16LE(b, 8, extendSeconds);
  PutU32LE(b, 12, limit);
  return b;
}

ClickTriggerRecord ClickTriggerRecord::Decode(std::span<const std::uint8_t> b) {
  assert(b.size() >= kClickRecordBytes);
  ClickTriggerRecord c;
  c.enabled = b[3];
  c.effect = GetU16LE(b, 4);
  c.durationSeconds = GetU16LE(b, 6);
  c.extendSeconds = GetU16LE(b, 8);
  c.limit = GetU32LE(b, 12);
  return c;
}

void TriggerSlot::Set(const EpochTrigger& t) {
  record = t.Encode();
  size = kEpochRecordBytes;
  valid = t.active != 0;
}

void TriggerSlot::Set(const LfEpochTrigger& t) {
  record = {};
  const auto b = t.Encode();
  std::copy(b.begin(), b.end(), record.begin());
  size = kLfEpochRecordBytes;
  valid = true;
}

std::string DescribeEpochError(int code) {
  switch (code) {
    case 1:
      return "Low frequency out of range.";
    case 2:
      return "High frequency out of range.";
    case 4:
      return "Wav data cannot be logged at the current sample rate.";
    case 8:
      return "FFT data cannot be logged at the current FFT Processing settings.";
    case 16:
      return "Invalid threshold selected.";
    case 250:
      return "Trigger not found.";
    case 251:
      return "Selected event trigger is not supported by this unit.";
    case 252:
      return "Selected event action is not supported by this unit.";
    case 253:
      return "The maximum number of triggers have been reached.";
    case 254:
      return "Critical Error, the Aurisond reported an internal fault.\nPlease reboot Aurisond. "
             "If the issue persists, please contact Quendal.";
    case 255:
      return "Aurisond is not ready to accept triggers,\nPlease wait 30 seconds and try again.\n"
             "If the issue persists, please reboot Aurisond.";
    default:
      return "Unknown Epoch Error";
  }
}

}  // namespace hylo
