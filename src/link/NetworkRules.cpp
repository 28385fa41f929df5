#include "link/NetworkRules.h"

#include <charconv>
#include <cstdio>

namespace hylo::netrules {
namespace {

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

std::uint32_t DefaultMask(int firstOctet) {
  if (firstOctet < 128) return 0xFF000000u;
  if (firstOctet < 192) return 0xFFFF0000u;
  return 0xFFFFFF00u;
}

MaskFault CheckMask(std::uint32_t mask) {
  // One unbroken run of ones from the top: the inverse plus one is a power of two (or 0).
  const std::uint32_t inverse = ~mask;
  if (inverse & (inverse + 1)) return MaskFault::NotContiguous;
  if (!(mask & 0x80000000u) || (mask & 1u)) return MaskFault::TopOrLowBit;
  return MaskFault::None;
}

std::string MaskQuestion(MaskFault fault) {
  std::string text =
      "The entered subnet mask is invalid\nWould you like to set the subnet mask to the default mask for your IP "
      "address class?";
  if (fault != MaskFault::NotContiguous) text += ".";
  return text;
}

bool HostPartUsable(std::uint32_t address, std::uint32_t mask) {
  const std::uint32_t host = address & ~mask;
  return host != 0 && host != ~mask;
}

OctetCheck CheckOctetField(std::string_view text, bool firstOctet) {
  if (text.empty()) return {std::string(), {}};
  const auto parsed = ParseInt(text);
  const int value = parsed.value_or(-1);
  char notice[200];
  if (firstOctet) {
    if (value == 127)
      return {"1",
              "IP addresses starting with 127 are not valid entries because they are reserved for loopback "
              "addresses. Please specify a different value between 1 and 223."};
    if (value < 1 || value > 223) {
      std::snprintf(notice, sizeof notice, "%d is not a valid entry. Please specify a value between 1 and 223", value);
      return {"223", notice};
    }
    return {std::to_string(value), {}};
  }
  if (value < 0 || value > 255) {
    std::snprintf(notice, sizeof notice, "%d is not a valid entry. Please specify a value between 0 and 255", value);
    return {"255", notice};
  }
  return {std::string(text), {}};
}

Octets GatewayPrefill(const Octets& ip, const Octets& mask) {
  Octets gw{ip[0].empty() ? std::string("0") : ip[0], std::string("0"), std::string("0"), std::string("1")};
  for (std::size_t i = 1; i < 3; ++i)
    if (ParseInt(mask[i]).value_or(0) != 0 && !ip[i].empty()) gw[i] = ip[i];
  return gw;
}

std::uint32_t OctetsValue(const Octets& fields) {
  std::uint32_t value = 0;
  for (const auto& f : fields) {
    const int octet = ParseInt(f).value_or(0);
    value = value << 8 | static_cast<std::uint32_t>(octet < 0 || octet > 255 ? 0 : octet);
  }
  return value;
}

Octets ValueOctets(std::uint32_t value) {
  Octets fields;
  for (int i = 0; i < 4; ++i) fields[static_cast<std::size_t>(i)] = std::to_string(value >> (24 - 8 * i) & 0xFF);
  return fields;
}

std::string DottedText(std::uint32_t v) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", v >> 24, v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF);
  return text;
}

std::optional<std::uint32_t> ParseDotted(std::string_view text) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const auto dot = text.find('.');
    if ((i < 3) == (dot == std::string_view::npos)) return std::nullopt;
    const auto part = ParseInt(text.substr(0, dot));
    if (!part || *part < 0 || *part > 255) return std::nullopt;
    value = value << 8 | static_cast<std::uint32_t>(*part);
    text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  }
  return value;
}

std::string MacText(const discovery::Mac& mac) {
  char text[20];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return text;
}

std::optional<discovery::Mac> ParseMacText(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  discovery::Mac mac{};
  for (std::size_t i = 0; i < 6; ++i) {
    if (i > 0 && text[i * 3 - 1] != ':') return std::nullopt;
    const auto part = text.substr(i * 3, 2);
    unsigned value = 0;
    const auto [ptr, ec] = std::from_chars(part.data(), part.data() + 2, value, 16);
    if (ec != std::errc() || ptr != part.data() + 2) return std::nullopt;
    mac[i] = static_cast<std::uint8_t>(value);
  }
  return mac;
}

std::optional<std::uint32_t> SuggestAddress(std::string_view interfaceAddress, const PingFunction& ping,
                                            const std::atomic<bool>& cancel) {
  const auto own = ParseDotted(interfaceAddress);
  if (!own) return std::nullopt;
  const std::uint32_t net = *own & 0xFFFFFF00u;
  for (std::uint32_t x = 254; x >= 1 && !cancel; --x) {
    const std::string candidate = DottedText(net | x);
    bool answered = false;
    for (int attempt = 0; attempt < 4 && !answered && !cancel; ++attempt) answered = ping(candidate, 1000);
    if (cancel) break;
    if (!answered) return net | x;
  }
  return std::nullopt;
}

}  // namespace hylo::netrules
