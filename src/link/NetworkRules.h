#pragma once
// The rules of the unit finder's address fields: default masks, mask and host-part checks,
// the octet field corrections, the gateway pre-fill, the free-address search, MAC text.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "link/DiscoveryWire.h"

namespace hylo::netrules {

using Octets = std::array<std::string, 4>;  // the four entry fields of one address

// The classful default mask for an address's first octet.
std::uint32_t DefaultMask(int firstOctet);

enum class MaskFault { None, TopOrLowBit, NotContiguous };
MaskFault CheckMask(std::uint32_t mask);
// The question asked for a faulty mask (the two faults end differently).
std::string MaskQuestion(MaskFault fault);
// False when the host part (address AND NOT mask) is all zeros or all ones.
bool HostPartUsable(std::uint32_t address, std::uint32_t mask);

// One octet field after a value change: the text to keep and the notice to show (empty when
// the entry was fine). First octets of an address or gateway allow 1..223 (127 is refused),
// the others 0..255; an empty field is allowed.
struct OctetCheck {
  std::string text;
  std::string notice;
};
OctetCheck CheckOctetField(std::string_view text, bool firstOctet);

// The gateway fields offered when the gateway is switched on while its first field is empty
// or 0: the address's network part where the mask allows, host 1.
Octets GatewayPrefill(const Octets& ip, const Octets& mask);

// Fields <-> value; an empty or unparsable field counts as 0.
std::uint32_t OctetsValue(const Octets& fields);
Octets ValueOctets(std::uint32_t value);
std::string DottedText(std::uint32_t value);
std::optional<std::uint32_t> ParseDotted(std::string_view text);

// "00:1A:2B:3C:4D:5E": six two-digit hexadecimal bytes.
std::string MacText(const discovery::Mac& mac);
std::optional<discovery::Mac> ParseMacText(std::string_view text);

// The first address a.b.c.x (x from 254 down to 1) that does not answer `ping` on the
// interface a.b.c.d; nothing when every one answers, the interface address is unparsable or
// `cancel` is set. `ping` is tried up to four times per address.
using PingFunction = std::function<bool(const std::string& address, int timeoutMs)>;
std::optional<std::uint32_t> SuggestAddress(std::string_view interfaceAddress, const PingFunction& ping,
                                            const std::atomic<bool>& cancel);

}  // namespace hylo::netrules
