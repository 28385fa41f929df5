#pragma once
// One ICMP echo to a host: an unprivileged ICMP socket where the system allows it, else a raw
// socket, else no answer. True when an echo reply came within timeoutMs.
#include <string>

namespace hylo::platform {

bool InetPing(const std::string& host, int timeoutMs);

}  // namespace hylo::platform
