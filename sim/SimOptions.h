#pragma once
// Command-line settings of hylo-sim: which instrument it plays, the scene and the faults.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hylo::sim {

struct SimTone {
  double hz = 0;
  double dbfs = 0;
  // A burst sounds from `start` for `seconds` (seconds of the sample clock from sample 0);
  // a negative length sounds all the time.
  double start = 0;
  double seconds = -1;
};

struct SimOptions {
  // Identity.
  int model = 5;
  std::string firmware = "v2.1.0";
  std::string release = "r2.1.0";
  std::string hardware = "HYD-HF rev B";
  std::uint16_t unit = 1;
  int detail = 5;
  int hardwareRevision = 2;
  int interfaceCode = 3;
  int unitStatus = 0;
  int sensitivityTenths = -1710;  // dB re 1 V/uPa, tenths
  int temperatureTenths = 215;
  int humidityTenths = 450;
  int batteryLevel = 80;
  int batteryState = 1;
  int syncState = 0;
  std::vector<std::int16_t> orientation{0, 0, 1000, 0, 0, 0};

  // Start-up job setup (0 = the model default).
  std::uint32_t waveRate = 0;
  int waveBits = 0;
  bool waveLittleEndian = false;

  // Links.
  std::string host = "127.0.0.1";
  std::uint16_t port = 50000;
  bool pty = false;
  double seconds = 0;  // 0 = run until signalled
  std::uint32_t baud = 256000;
  bool ignoreBaud = false;  // "B" is heard but the unit stays at its rate

  // Discovery: answers "W" enquiries and applies "X" set commands on this UDP port.
  bool discovery = false;
  std::uint16_t discoveryPort = 62726;
  std::string mac = "00:1A:2B:3C:4D:5E";
  int netMode = 2;  // 1 DHCP, 2 fixed address
  std::string netIp = "192.168.1.20";
  std::string netMask = "255.255.255.0";
  std::string netGateway = "192.168.1.1";

  // Scene.
  std::uint64_t seed = 1;
  std::vector<SimTone> tones;
  double noiseDbfs = -70;
  double impulseRate = 0;
  double impulseDbfs = -6;
  std::uint64_t impulseCount = 0;  // 0: without end

  // Faults.
  double dropUdp = 0;
  std::string dropLog;           // one line "stream what first count" per fault done to a data message
  double reorderUdp = 0;         // share of UDP data datagrams held back and sent after the next one
  double duplicateUdp = 0;       // share of UDP data datagrams sent twice
  double corruptStream = 0;      // share of data and status messages with one checkable byte flipped
  double rebootAfter = 0;        // the unit reboots by itself this long after the first stream start
  std::string commandLog;        // one line per "A", "E", "V", "Y", "Z" received
  std::int64_t clockOffset = 0;  // the instrument clock's start, seconds from the host's
  // Every this many waveform messages, a run of unusable descriptions (zero rate, extreme
  // values, channel type 255), each followed by data, before the good one again (0 = never).
  int badDescriptionsEvery = 0;
  double closeLinkAfter = 0;      // TCP: after each accept; pty: after the host's first bytes
  double startTimeout = 10;       // a TCP data connection without a start request is timed out
  double streamLimit = 6 * 3600;  // a stream is timed out after this long (0 = never)
  double stopStreamsAfter = 0;    // the instrument stops each stream this long after its start
  double rebootDelay = 2;
  double corruptFraction = 0;               // share of reply frames with one flipped byte
  std::map<char, double> delayLetters;      // letter -> seconds before the reply
  std::vector<char> withholdLetters;        // letters never answered
  std::optional<std::uint16_t> setupError;  // every "D" is refused with this code

  // "F" is answered with at most this many frames.
  std::optional<std::size_t> enquiryFrames;
  // The echo of each accepted "D" record of this type has the byte at this offset inverted
  // (the unit keeps what was sent).
  struct EchoFlip {
    std::uint16_t recordType = 0;
    std::size_t offset = 0;
  };
  std::optional<EchoFlip> echoFlip;
  // The instrument's storage: volume folders "1" (and "2" when present) under this folder,
  // served over the file protocol on the command link. Empty: no storage.
  std::string storage;
  bool fsHostileListing = false;   // every listing also holds names that name no place
  bool fsShortBlocks = false;      // block reads claim the length asked but carry a byte less
  bool fsCorruptReadback = false;  // reads of UPDATE.BIN return its first byte inverted
  bool paceLine = false;           // pty: replies leave no faster than the line rate
  int fsBusy = 0;                  // the first N requests are answered busy
  // HF/AF from v2.0.0 serve --storage over FTP too (home/Aurisond/...); faults for tests.
  std::string ftpFailList;                    // the first LIST of a path ending in this fails
  bool ftpHostileListing = false;             // listings carry names that name no place
  std::optional<std::uint64_t> ftpStopAfter;  // the server dies after sending this much of a file
  // Instead of playing the instrument: print this many waveform counts of the scene and exit.
  std::uint64_t dumpSamples = 0;

  int PortBase() const { return static_cast<int>(port) - 50000; }
  // The FTP control port: 21 for port base 0, else 2021 + port base; 0 when that is no port.
  int FtpPort() const;
  bool ServesFtp() const;
  std::uint32_t FirmwareNumber() const;
};

struct SimOptionsResult {
  std::optional<SimOptions> options;
  std::string error;  // set when options is empty
  bool help = false;
};

SimOptionsResult ParseSimOptions(const std::vector<std::string_view>& args);
std::string SimUsage();

// "a.b.c.d" -> a << 24 | b << 16 | c << 8 | d.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);
// "00:1A:2B:3C:4D:5E", first byte first.
std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text);

// "v2.7.99" -> 0x020763; 0 when the text is not of that form.
std::uint32_t ParseFirmwareNumber(std::string_view text);

}  // namespace hylo::sim
