#pragma once
// Command letters of the command link, and the frame limits every sender and receiver shares.
#include <cstddef>
#include <cstdint>

namespace hylo::cmd {

inline constexpr std::uint8_t kStartByte = 0x2A;    // "*"
inline constexpr std::uint8_t kFirstLetter = 0x41;  // "A"
inline constexpr std::uint8_t kLastLetter = 0x5C;   // "\"

inline constexpr std::uint8_t kClock = 'A';          // read (4 zero bytes) or set the instrument clock
inline constexpr std::uint8_t kBaudRate = 'B';       // set the serial baud rate (32-bit)
inline constexpr std::uint8_t kStatus = 'C';         // status enquiry (16-bit mask, or 1 byte)
inline constexpr std::uint8_t kWriteSetup = 'D';     // write one setup record or parameter list
inline constexpr std::uint8_t kIdentify = 'E';       // model, serial number, firmware
inline constexpr std::uint8_t kReadSetup = 'F';      // read the job setup (2 bytes, value 20)
inline constexpr std::uint8_t kNotice = 'G';         // instrument notice with a one-byte value
inline constexpr std::uint8_t kFileSystem = 'P';     // serial-link file system request
inline constexpr std::uint8_t kScanStop = 'Q';       // sent when scanning stops
inline constexpr std::uint8_t kEpochEnquiry = 'R';   // epoch trigger enquiry
inline constexpr std::uint8_t kEpochAdd = 'S';       // add one epoch trigger
inline constexpr std::uint8_t kEpochRemoved = 'T';   // result of an epoch trigger removal
inline constexpr std::uint8_t kEpochClear = 'U';     // clear the epoch triggers
inline constexpr std::uint8_t kPasswordReset = 'V';  // reset the instrument password
inline constexpr std::uint8_t kReboot = 'Y';         // reboot the instrument
inline constexpr std::uint8_t kUnitEnquiry = 'Z';    // enquiry once a unit is identified
inline constexpr std::uint8_t kUnitStatus = '[';     // unit status record

inline constexpr bool IsCommandLetter(std::uint8_t b) { return b >= kFirstLetter && b <= kLastLetter; }

inline constexpr std::size_t kFrameOverhead = 6;                                // start, letter, length (2), CRC (2)
inline constexpr std::size_t kFrameArea = 8004;                                 // room for one command frame
inline constexpr std::size_t kMaxCommandPayload = kFrameArea - kFrameOverhead;  // 7998
inline constexpr std::size_t kMaxReplyPayload = 7994;                           // largest N a receiver accepts
inline constexpr std::size_t kReadChunk = 8000;                                 // bytes asked of the link per read

}  // namespace hylo::cmd
