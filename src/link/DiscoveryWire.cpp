#include "link/DiscoveryWire.h"

#include "wire/Bytes.h"
#include "wire/CRC_Update.h"

namespace hylo::discovery {
namespace {

void PutMac(std::span<std::uint8_t> out, std::size_t at, const Mac& mac) {
  for (std::size_t i = 0; i < mac.size(); ++i) out[at + i] = mac[mac.size() - 1 - i];
}

Mac GetMac(std::span<const std::uint8_t> in, std::size_t at) {
  Mac mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) mac[i] = in[at + mac.size() - 1 - i];
  return mac;
}

template <std::size_t N>
void Seal(std::array<std::uint8_t, N>& frame, std::uint8_t letter) {
  frame[0] = '*';
  frame[1] = letter;
  bytes::PutU16LE(frame, 2, static_cast<std::uint16_t>(N - 6));
  const std::uint16_t crc = CRC_Update(0, std::span<const std::uint8_t>(frame).first(N - 2));
  bytes::PutU16LE(frame, N - 2, crc);
}

}  // namespace

std::array<std::uint8_t, kRecordSize> EncodeRecord(const DiscoveryRecord& r) {
  std::array<std::uint8_t, kRecordSize> out{};
  out[0] = r.modelCode;
  bytes::PutU16LE(out, 1, r.unitNumber);
  PutMac(out, 3, r.mac);
  out[9] = r.addressMode;
  bytes::PutU32LE(out, 10, r.ipAddress);
  bytes::PutU32LE(out, 14, r.subnetMask);
  bytes::PutU32LE(out, 18, r.gateway);
  return out;
}

DiscoveryRecord DecodeRecord(std::span<const std::uint8_t, kRecordSize> in) {
  DiscoveryRecord r;
  r.modelCode = in[0];
  r.unitNumber = bytes::GetU16LE(in, 1);
  r.mac = GetMac(in, 3);
  r.addressMode = in[9];
  r.ipAddress = bytes::GetU32LE(in, 10);
  r.subnetMask = bytes::GetU32LE(in, 14);
  r.gateway = bytes::GetU32LE(in, 18);
  return r;
}

std::array<std::uint8_t, 17> BuildEnquiry(std::uint16_t replyPort) {
  std::array<std::uint8_t, 17> frame{};
  bytes::PutU16LE(frame, 13, replyPort);
  Seal(frame, 'W');
  return frame;
}

std::array<std::uint8_t, 30> BuildSetCommand(const SetCommand& c) {
  std::array<std::uint8_t, 30> frame{};
  frame[4] = c.modelCode;
  bytes::PutU16LE(frame, 5, c.unitNumber);
  PutMac(frame, 7, c.mac);
  bytes::PutU16LE(frame, 13, c.replyPort);
  frame[15] = c.addressMode;
  if (c.addressMode != kModeDhcp) {
    bytes::PutU32LE(frame, 16, c.ipAddress);
    bytes::PutU32LE(frame, 20, c.subnetMask);
    bytes::PutU32LE(frame, 24, c.gateway);
  }
  Seal(frame, 'X');
  return frame;
}

Datagram ParseDatagram(std::span<const std::uint8_t> in) {
  if (in.size() < 6 || in[0] != '*') return {};
  const std::size_t n = bytes::GetU16LE(in, 2);
  if (in.size() < n + 6) return {};
  if (CRC_Update(0, in.first(n + 6)) != 0) return {};
  const auto payload = in.subspan(4, n);
  if (in[1] == 'W' && n >= kRecordSize) return DecodeRecord(payload.first<kRecordSize>());
  if (in[1] == 'X' && n >= 24) {
    SetResult result;
    DiscoveryRecord& r = result.record;
    r.modelCode = payload[0];
    r.unitNumber = bytes::GetU16LE(payload, 1);
    r.mac = GetMac(payload, 3);
    result.code = bytes::GetU16LE(payload, 9);
    r.addressMode = payload[11];
    r.ipAddress = bytes::GetU32LE(payload, 12);
    r.subnetMask = bytes::GetU32LE(payload, 16);
    r.gateway = bytes::GetU32LE(payload, 20);
    return result;
  }
  return {};
}

}  // namespace hylo::discovery
