#pragma once
// How the job setup asks for each data stream to travel: off, its own UDP or TCP channel, or
// inside the status replies of the command link.

namespace hylo {

enum StreamTransport : int { TRANSPORT_OFF = 0, TRANSPORT_UDP = 1, TRANSPORT_TCP = 2, TRANSPORT_LINK = 3 };

}  // namespace hylo
