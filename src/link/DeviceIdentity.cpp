#include "link/DeviceIdentity.h"

#include <cstdio>

#include "wire/Bytes.h"

namespace hylo {
namespace {

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Has(std::size_t at, std::size_t size) const { return at + size <= bytes_.size(); }
  std::optional<std::uint8_t> U8(std::size_t at) const {
    if (!Has(at, 1)) return std::nullopt;
    return bytes_[at];
  }
  std::optional<std::uint16_t> U16(std::size_t at) const {
    if (!Has(at, 2)) return std::nullopt;
    return bytes::GetU16LE(bytes_, at);
  }
  std::optional<std::int16_t> I16(std::size_t at) const {
    if (!Has(at, 2)) return std::nullopt;
    return bytes::GetI16LE(bytes_, at);
  }
  // A fixed-width text field, cut at its first NUL.
  std::string Text(std::size_t at, std::size_t size) const {
    if (!Has(at, size)) return {};
    std::string text;
    for (std::size_t i = 0; i < size && bytes_[at + i] != 0; ++i) text += static_cast<char>(bytes_[at + i]);
    return text;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace

std::optional<VersionReply> ParseVersionReply(std::span<const std::uint8_t> payload) {
  const Reader r(payload);
  if (!r.Has(0, 30)) return std::nullopt;
  VersionReply reply;
  DeviceIdentity& id = reply.identity;
  VersionStatus& st = reply.status;
  id.unitNumber = *r.U16(0);
  id.firmwareText = r.Text(2, 8);
  id.productText = r.Text(10, 18);
  const std::uint8_t type = *r.U8(28);
  id.unitStatus = *r.U8(29);
  id.detailLevel = payload.size() > 32 ? *r.U8(32) : 0;
  const int level = id.detailLevel;

  if (type == kModelHf || type == kModelAf) {
    id.modelCode = type;
    if (level >= 1) {
      if (auto s = r.I16(33)) st.sensitivityDb = *s / 10;
    }
    if (level >= 3) {
      if (auto t = r.I16(35)) st.temperatureC = *t / 10.0;
      if (auto h = r.I16(37)) st.humidityPercent = *h / 10.0;
      st.batteryState = r.U8(39);
      st.batteryLevel = r.U8(40);
      id.hardwareRevision = r.U8(41).value_or(0);
      id.interfaceCode = r.U8(42).value_or(0);
    }
    if (level >= 4) {
      id.releaseText = r.Text(43, 8);
      st.syncState = r.U8(51);
      st.setupByte = r.U8(52);
    }
    if (level >= 5) id.hardwareText = r.Text(53, 16);
  } else if (type == kModelLf) {
    id.modelCode = type;
    if (level >= 1) {
      id.extraWord = r.U16(33).value_or(0);
      if (auto s = r.I16(35)) st.sensitivityDb = *s;
      id.lfStatusByte = r.U8(37).value_or(0);
      id.interfaceCode = r.U8(38).value_or(0);
    }
    if (level >= 2) {
      if (auto t = r.I16(39)) st.temperatureC = *t / 10.0;
      if (auto h = r.I16(41)) st.humidityPercent = *h / 10.0;
      st.syncState = r.U8(43);
      st.setupByte = r.U8(44);
    }
  } else {
    id.modelCode = kModelUnknown;
  }
  return reply;
}

Firmware FirmwareVersion(std::string_view firmwareText) { return Firmware::Parse(firmwareText); }

std::string ModelLabel(int modelCode, int unitNumber) {
  const char* pattern = "Unknown %d";
  switch (modelCode) {
    case 1:
      pattern = "Vocaris LF %d";
      break;
    case 2:
      pattern = "Aurisond LF %d";
      break;
    case 4:
      pattern = "Vocaris HF %d";
      break;
    case 5:
      pattern = "Aurisond HF %d";
      break;
    case 7:
      pattern = "Aurisond AF %d";
      break;
    case 8:
      pattern = "Host Controller %d";
      break;
    case 9:
      pattern = "Host Link %d";
      break;
    case 10:
      pattern = "Linkara %d";
      break;
    case 11:
    case 14:
      pattern = "Extender %d";
      break;
    case 12:
      pattern = "Link Board %d";
      break;
    case 13:
      pattern = "Tamber %d";
      break;
    case 15:
      pattern = "Aurisond Skiff %d";
      break;
    default:
      break;
  }
  char text[64];
  std::snprintf(text, sizeof text, pattern, unitNumber);
  return text;
}

std::string_view ModelName(int modelCode) {
  switch (modelCode) {
    case kModelLf:
      return "Aurisond LF";
    case kModelHf:
      return "Aurisond HF";
    case kModelAf:
      return "Aurisond AF";
    default:
      return "Unknown";
  }
}

std::string_view ModelShortCode(int modelCode) {
  switch (modelCode) {
    case kModelLf:
      return "Wn1";
    case kModelHf:
      return "Wn2";
    case kModelAf:
      return "Wn3";
    default:
      return "Unknown";
  }
}

std::string_view UnitStatusText(int unitStatus) {
  switch (unitStatus) {
    case 0:
      return "Ready";
    case 1:
      return "Waiting For Data";
    case 2:
      return "Not Ready";
    case 3:
      return "Unit Not Configured";
    case 4:
      return "Baud Reconfiguring";
    case 5:
      return "FileSystem Error";
    default:
      return "Unknown";
  }
}

std::string DescribeUnit(const DeviceIdentity& id) {
  if (id.modelCode != kModelLf && id.modelCode != kModelHf && id.modelCode != kModelAf) {
    return "Aurisond not found. Data not valid";
  }
  std::string line = std::string(ModelName(id.modelCode)) + " # " + std::to_string(id.unitNumber) + " " +
                     std::string(UnitStatusText(id.unitStatus)) + "   Firmware ";
  // Units report the release with its own "r" ("r2.1.0"); the line's "R" replaces it.
  std::string_view release = id.releaseText;
  if (!release.empty() && (release.front() == 'r' || release.front() == 'R')) release.remove_prefix(1);
  line += id.releaseText.empty() ? id.firmwareText : "R" + std::string(release);
  return line;
}

std::string_view InterfaceName(int interfaceCode) {
  switch (interfaceCode) {
    case 1:
    case 4:
    case 5:
      return "SER";
    case 2:
      return "USB";
    case 3:
      return "ETH";
    default:
      return "";
  }
}

}  // namespace hylo
