#include "SimIdentity.h"

#include <algorithm>

#include "wire/Bytes.h"

namespace hylo::sim {
namespace {

void PutText(std::vector<std::uint8_t>& b, std::size_t at, std::size_t width, std::string_view text) {
  const std::size_t n = std::min(width, text.size());
  std::copy_n(text.begin(), n, b.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutI16(std::vector<std::uint8_t>& b, std::size_t at, int v) {
  hylo::bytes::PutU16LE(b, at, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
}

bool IsHfFamily(int model) { return model == 5 || model == 7; }

}  // namespace

std::string_view SimIdentity::ProductText(int model) {
  switch (model) {
    case 2:
      return "Aurisond LF";
    case 5:
      return "Aurisond HF";
    case 7:
      return "Aurisond AF";
    case 15:
      return "Aurisond Skiff";
    default:
      return "Link Device";
  }
}

std::size_t SimIdentity::ReplyLength(int model, int detail) {
  if (detail <= 0) return 32;
  if (IsHfFamily(model)) {
    if (detail <= 2) return 35;
    if (detail == 3) return 43;
    if (detail == 4) return 53;
    return 69;
  }
  if (model == 2) return detail == 1 ? 39 : 45;
  return 33;  // other devices: the level byte only
}

std::vector<std::uint8_t> SimIdentity::Reply() const {
  std::vector<std::uint8_t> b(ReplyLength(o_.model, o_.detail), 0);
  hylo::bytes::PutU16LE(b, 0, o_.unit);
  PutText(b, 2, 8, o_.firmware);
  PutText(b, 10, 18, ProductText(o_.model));
  b[28] = static_cast<std::uint8_t>(o_.model);
  b[29] = static_cast<std::uint8_t>(o_.unitStatus);
  if (b.size() <= 32) return b;
  b[32] = static_cast<std::uint8_t>(o_.detail);
  if (IsHfFamily(o_.model)) {
    PutI16(b, 33, o_.sensitivityTenths);
    if (o_.detail >= 3) {
      PutI16(b, 35, o_.temperatureTenths);
      PutI16(b, 37, o_.humidityTenths);
      b[39] = static_cast<std::uint8_t>(o_.batteryState);
      b[40] = static_cast<std::uint8_t>(o_.batteryLevel);
      b[41] = static_cast<std::uint8_t>(o_.hardwareRevision);
      b[42] = static_cast<std::uint8_t>(o_.interfaceCode);
    }
    if (o_.detail >= 4) {
      PutText(b, 43, 8, o_.release);
      b[51] = static_cast<std::uint8_t>(o_.syncState);
      b[52] = static_cast<std::uint8_t>(o_.hardwareRevision >= 2 ? 2 : 1);  // feature level
    }
    if (o_.detail >= 5) PutText(b, 53, 16, o_.hardware);
  } else if (o_.model == 2) {
    hylo::bytes::PutU16LE(b, 33, 0x0001);  // LF extra word
    PutI16(b, 35, o_.sensitivityTenths / 10);
    b[37] = 0;  // LF status byte
    b[38] = static_cast<std::uint8_t>(o_.interfaceCode);
    if (o_.detail >= 2) {
      PutI16(b, 39, o_.temperatureTenths);
      PutI16(b, 41, o_.humidityTenths);
      b[43] = static_cast<std::uint8_t>(o_.syncState);
      b[44] = 1;
    }
  }
  return b;
}

}  // namespace hylo::sim
