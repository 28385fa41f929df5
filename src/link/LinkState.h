#pragma once
// Which command link is open and its parameters. Read by every thread that sends or reads;
// written by connection management.
#include <atomic>
#include <cstdint>

namespace hylo {

enum LinkType : int { LINK_ETHERNET = 0, LINK_SERIAL = 1, LINK_NONE = 3 };

struct LinkState {
  std::atomic<int> connectionType{LINK_NONE};  // 0 Ethernet, 1 serial, 3 no connection
  std::atomic<int> comPort{0};
  std::atomic<int> baudRate{115200};
  std::atomic<int> serialTimeoutMs{110};
  std::atomic<int> tcpHandle{0};
  std::atomic<int> tcpTimeoutMs{1000};
  // Disconnect handshake with the serial reader.
  std::atomic<bool> serialStop{false};
  std::atomic<bool> serialStopAck{false};
};

// Serial command time-out for a baud rate; rates not listed get 156 ms.
constexpr int SerialTimeoutForBaud(int baud) {
  switch (baud) {
    case 1200:
      return 1100;
    case 2400:
      return 600;
    case 4800:
      return 350;
    case 9600:
      return 228;
    case 19200:
      return 156;
    case 115200:
      return 110;
    case 230400:
    case 256000:
      return 105;
    case 460800:
      return 103;
    case 921600:
      return 102;
    case 1250000:
      return 101;
    default:
      return 156;
  }
}

}  // namespace hylo
