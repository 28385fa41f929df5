#pragma once
// How live data of one stream reaches the PC. The job setup holds the two codes; every
// other module reads them through a `StreamCodesSource`, never from a copy of its own.
#include <functional>

namespace hylo {

enum StreamTransport : int { TRANSPORT_OFF = 0, TRANSPORT_UDP = 1, TRANSPORT_TCP = 2, TRANSPORT_LINK = 3 };

struct StreamCodes {
  int wave = TRANSPORT_OFF;
  int fft = TRANSPORT_OFF;
  bool operator==(const StreamCodes&) const = default;
};

using StreamCodesSource = std::function<StreamCodes()>;

}  // namespace hylo
