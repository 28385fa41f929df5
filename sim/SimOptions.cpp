#include "SimOptions.h"

#include <charconv>
#include <cstdio>

namespace hylo::sim {
namespace {

template <typename T>
bool ParseNumber(std::string_view text, T& out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  if constexpr (std::is_floating_point_v<T>) {
    try {
      std::size_t used = 0;
      const std::string s(text);
      out = static_cast<T>(std::stod(s, &used));
      return used == s.size();
    } catch (...) {
      return false;
    }
  } else {
    int base = 10;
    const char* begin = text.data();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      base = 16;
      begin += 2;
    }
    auto [p, ec] = std::from_chars(begin, end, out, base);
    return ec == std::errc{} && p == end;
  }
}

bool ParsePair(std::string_view text, double& a, double& b) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  return ParseNumber(text.substr(0, colon), a) && ParseNumber(text.substr(colon + 1), b);
}

bool ParseModel(std::string_view text, int& model) {
  if (text == "lf" || text == "LF") {
    model = 2;
    return true;
  }
  if (text == "hf" || text == "HF") {
    model = 5;
    return true;
  }
  if (text == "af" || text == "AF") {
    model = 7;
    return true;
  }
  return ParseNumber(text, model) && model >= 0 && model <= 255;
}

}  // namespace

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
  std::uint32_t value = 0;
  const char* p = text.data();
  const char* end = p + text.size();
  for (int i = 0; i < 4; ++i) {
    unsigned octet = 0;
    const auto [next, ec] = std::from_chars(p, end, octet);
    if (ec != std::errc() || octet > 255 || next == p) return std::nullopt;
    value = value << 8 | octet;
    p = next;
    if (i < 3) {
      if (p == end || *p != '.') return std::nullopt;
      ++p;
    }
  }
  if (p != end) return std::nullopt;
  return value;
}

std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text) {
  std::array<std::uint8_t, 6> mac{};
  if (text.size() != 17) return std::nullopt;
  for (std::size_t i = 0; i < 6; ++i) {
    if (i > 0 && text[3 * i - 1] != ':') return std::nullopt;
    unsigned byte = 0;
    const char* start = text.data() + 3 * i;
    const auto [next, ec] = std::from_chars(start, start + 2, byte, 16);
    if (ec != std::errc() || next != start + 2) return std::nullopt;
    mac[i] = static_cast<std::uint8_t>(byte);
  }
  return mac;
}

std::uint32_t ParseFirmwareNumber(std::string_view text) {
  unsigned major = 0, minor = 0, patch = 0;
  const std::string s(text);
  if (std::sscanf(s.c_str(), "v%u.%u.%u", &major, &minor, &patch) != 3) return 0;
  if (major > 255 || minor > 255 || patch > 255) return 0;
  return major * 65536u + minor * 256u + patch;
}

std::uint32_t SimOptions::FirmwareNumber() const { return ParseFirmwareNumber(firmware); }

int SimOptions::FtpPort() const {
  const int p = PortBase() == 0 ? 21 : 2021 + PortBase();
  return p > 0 && p <= 65535 ? p : 0;
}

bool SimOptions::ServesFtp() const {
  return !storage.empty() && !pty && (model == 5 || model == 7) && FirmwareNumber() >= 0x20000;
}

std::string SimUsage() {
  return "usage: hylo-sim [options]\n"
         "  --model 2|5|7|lf|hf|af     instrument model (default 5, HF; any code 0..255 for link devices)\n"
         "  --firmware vX.Y.Z          firmware text (default v2.1.0)\n"
         "  --release TEXT             firmware release text (8 chars)\n"
         "  --hardware TEXT            hardware text (16 chars)\n"
         "  --revision N               hardware revision (default 2)\n"
         "  --interface N              interface code: 1,4,5 serial, 2 USB, 3 Ethernet (default 3)\n"
         "  --unit N                   unit number (default 1)\n"
         "  --detail N                 identify detail level (default 5)\n"
         "  --sensitivity TENTHS       hydrophone sensitivity, tenths of dB (default -1710)\n"
         "  --temperature TENTHS       --humidity TENTHS   --battery PERCENT   --battery-state N\n"
         "  --sync-state N             synchronisation state\n"
         "  --rate N                   start-up waveform (and FFT) sample rate, up to 512000\n"
         "  --bits 16|24|32            start-up sample width (default 24)\n"
         "  --byte-order big|little    start-up sample byte order (default big)\n"
         "  --host ADDR                address to bind (default 127.0.0.1)\n"
         "  --port N                   command port (default 50000; stream ports follow from it)\n"
         "  --pty                      serve the command link on a new pseudo-terminal instead of TCP\n"
         "  --baud N                   initial serial baud rate (default 256000); a host at another\n"
         "                             rate is not heard\n"
         "  --ignore-baud              hear \"B\" but stay at the current rate\n"
         "  --seconds S                stop by itself after S seconds\n"
         "  --discovery                answer discovery enquiries and network set commands (UDP)\n"
         "  --discovery-port N         their port (default 62726)\n"
         "  --mac XX:XX:XX:XX:XX:XX    the unit's MAC address\n"
         "  --net-mode dhcp|fixed      --net-ip ADDR  --net-mask ADDR  --net-gateway ADDR\n"
         "                             the network settings the unit reports (default fixed\n"
         "                             192.168.1.20/255.255.255.0, gateway 192.168.1.1)\n"
         "  --seed N                   scene seed (default 1)\n"
         "  --tone HZ:DBFS             add a tone (repeatable)\n"
         "  --tone-burst HZ:DBFS:START:SECONDS\n"
         "                             a tone that sounds only from START for SECONDS, counted on the\n"
         "                             sample clock from the first sample (repeatable)\n"
         "  --noise DBFS               noise floor (default -70)\n"
         "  --impulses RATE:DBFS[:COUNT]\n"
         "                             impulses per second and their peak level (COUNT of them, default\n"
         "                             without end): impulse k starts at\n"
         "                             sample (k + 0.5) * rate / RATE; even ones a Hann-windowed 20 ms\n"
         "                             tone burst, odd ones a tone decaying with 5 ms for 40 ms, both at\n"
         "                             min(2000, rate / 8) Hz\n"
         "  --drop-udp FRACTION        lose this share of UDP datagrams\n"
         "  --drop-log FILE            append \"STREAM WHAT FIRST COUNT\" for every fault done to a data\n"
         "                             message (wave/fft/status; lost, reordered, duplicated, corrupt)\n"
         "  --reorder-udp FRACTION     hold this share of UDP data datagrams back, sent after the next one\n"
         "  --duplicate-udp FRACTION   send this share of UDP data datagrams twice\n"
         "  --corrupt-stream FRACTION  flip one header byte a receiver can check in this share of data and\n"
         "                             status messages (UDP and TCP)\n"
         "  --reboot-after S           reboot by itself S seconds after the first stream started, as on \"Y\"\n"
         "  --close-link-after S       drop the command link S seconds after it was accepted (pty: after\n"
         "                             the host's first bytes the pty goes away, as an unplugged unit)\n"
         "  --start-timeout S          time out a TCP data connection without a start request (default 10)\n"
         "  --stream-limit S           time out every stream after S seconds (default 21600, 0 = never)\n"
         "  --stop-streams-after S     stop every stream S seconds after it started (notice 3)\n"
         "  --reboot-delay S           time the instrument stays away after \"Y\" (default 2)\n"
         "  --corrupt FRACTION         flip one byte in this share of reply frames\n"
         "  --delay L:S                answer letter L only after S seconds (repeatable)\n"
         "  --withhold L               never answer letter L (repeatable)\n"
         "  --setup-error CODE         refuse every \"D\" with this code (e.g. 0xFFFD, 0xFFFE, 0xFFFF)\n"
         "  --enquiry-frames N         answer the setup enquiry \"F\" with at most N of its frames\n"
         "  --echo-flip TYPE:OFFSET    invert the byte at OFFSET in the echo of each accepted \"D\" record\n"
         "                             of TYPE (e.g. 14:11, the WaveSetup reserved byte)\n"
         "  --command-log FILE         append a line per clock (\"A\"), identify (\"E\"), unit enquiry (\"Z\"),\n"
         "                             password reset (\"V\"), reboot (\"Y\") and stream start\n"
         "  --clock-offset S           start the instrument clock S seconds from the host's (may be negative)\n"
         "  --bad-descriptions N       every N waveform messages, send unusable stream descriptions\n"
         "                             (zero rate, extreme values, channel type 255), each with data\n"
         "  --storage DIR              serve DIR/1 (and DIR/2) as the instrument's volumes over the file protocol\n"
         "  --fs-hostile-listing       every folder listing also holds unusable names (\"\", \".\", \"..\", \"/\", "
         "...)\n"
         "  --fs-short-blocks          block reads carry one byte less than their length claims\n"
         "  --fs-corrupt-readback      reads of UPDATE.BIN return its first byte inverted\n"
         "  --pace-line                pty: send replies no faster than the line rate (ten bits a byte)\n"
         "  --fs-busy N                answer the first N file requests busy\n"
         "  --ftp-fail-list NAME       HF/AF from v2.0.0 with --storage: the first LIST of a path ending in NAME "
         "fails\n"
         "  --ftp-hostile-listing      FTP listings also hold names that name no place and sizes of 2^64\n"
         "  --ftp-stop-after BYTES     the FTP server dies after sending BYTES of a file\n"
         "  --dump-samples N           print the first N waveform counts of the scene, one per line, and exit\n"
         "  --help                     this text\n";
}

SimOptionsResult ParseSimOptions(const std::vector<std::string_view>& args) {
  SimOptionsResult result;
  SimOptions o;
  auto fail = [&](std::string msg) {
    result.error = std::move(msg);
    return result;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--help" || a == "-h") {
      result.help = true;
      return result;
    }
    if (a == "--pty") {
      o.pty = true;
      continue;
    }
    if (a == "--pace-line") {
      o.paceLine = true;
      continue;
    }
    if (a == "--fs-hostile-listing" || a == "--fs-short-blocks" || a == "--fs-corrupt-readback") {
      (a == "--fs-hostile-listing" ? o.fsHostileListing
       : a == "--fs-short-blocks"  ? o.fsShortBlocks
                                   : o.fsCorruptReadback) = true;
      continue;
    }
    if (a == "--discovery") {
      o.discovery = true;
      continue;
    }
    if (a == "--ftp-hostile-listing") {
      o.ftpHostileListing = true;
      continue;
    }
    if (a == "--ignore-baud") {
      o.ignoreBaud = true;
      continue;
    }
    if (i + 1 >= args.size()) return fail("missing value after " + std::string(a));
    const std::string_view v = args[++i];
    bool ok = true;
    double x = 0, y = 0;
    if (a == "--model") {
      ok = ParseModel(v, o.model);
    } else if (a == "--firmware") {
      ok = ParseFirmwareNumber(v) != 0 && v.size() <= 8;
      o.firmware = std::string(v);
    } else if (a == "--release") {
      o.release = std::string(v.substr(0, 8));
    } else if (a == "--hardware") {
      o.hardware = std::string(v.substr(0, 16));
    } else if (a == "--revision") {
      ok = ParseNumber(v, o.hardwareRevision);
    } else if (a == "--interface") {
      ok = ParseNumber(v, o.interfaceCode);
    } else if (a == "--unit") {
      ok = ParseNumber(v, o.unit);
    } else if (a == "--detail") {
      ok = ParseNumber(v, o.detail) && o.detail >= 0 && o.detail <= 255;
    } else if (a == "--sensitivity") {
      ok = ParseNumber(v, o.sensitivityTenths);
    } else if (a == "--temperature") {
      ok = ParseNumber(v, o.temperatureTenths);
    } else if (a == "--humidity") {
      ok = ParseNumber(v, o.humidityTenths);
    } else if (a == "--battery") {
      ok = ParseNumber(v, o.batteryLevel);
    } else if (a == "--battery-state") {
      ok = ParseNumber(v, o.batteryState);
    } else if (a == "--sync-state") {
      ok = ParseNumber(v, o.syncState);
    } else if (a == "--rate") {
      ok = ParseNumber(v, o.waveRate) && o.waveRate > 0 && o.waveRate <= 512000;
    } else if (a == "--bits") {
      ok = ParseNumber(v, o.waveBits) && (o.waveBits == 16 || o.waveBits == 24 || o.waveBits == 32);
    } else if (a == "--byte-order") {
      ok = v == "little" || v == "big";
      o.waveLittleEndian = v == "little";
    } else if (a == "--host") {
      o.host = std::string(v);
    } else if (a == "--port") {
      ok = ParseNumber(v, o.port) && o.port > 0;
    } else if (a == "--baud") {
      ok = ParseNumber(v, o.baud);
    } else if (a == "--discovery-port") {
      ok = ParseNumber(v, o.discoveryPort) && o.discoveryPort > 0;
    } else if (a == "--mac") {
      o.mac = std::string(v);
      ok = ParseMac(v).has_value();
    } else if (a == "--net-mode") {
      ok = v == "dhcp" || v == "fixed";
      o.netMode = v == "dhcp" ? 1 : 2;
    } else if (a == "--net-ip" || a == "--net-mask" || a == "--net-gateway") {
      ok = ParseIpv4(v).has_value();
      (a == "--net-ip" ? o.netIp : a == "--net-mask" ? o.netMask : o.netGateway) = std::string(v);
    } else if (a == "--seconds") {
      ok = ParseNumber(v, o.seconds) && o.seconds >= 0;
    } else if (a == "--seed") {
      ok = ParseNumber(v, o.seed);
    } else if (a == "--tone") {
      ok = ParsePair(v, x, y) && x >= 0;
      o.tones.push_back({x, y});
    } else if (a == "--tone-burst") {
      const std::size_t mid = v.find(':', v.find(':') + 1);
      double start = 0, length = 0;
      ok = mid != std::string_view::npos && ParsePair(v.substr(0, mid), x, y) && x >= 0 &&
           ParsePair(v.substr(mid + 1), start, length) && start >= 0 && length >= 0;
      o.tones.push_back({x, y, start, length});
    } else if (a == "--noise") {
      ok = ParseNumber(v, o.noiseDbfs);
    } else if (a == "--impulses") {
      // RATE:DBFS or RATE:DBFS:COUNT
      const std::size_t mid = v.find(':', v.find(':') + 1);
      double count = 0;
      ok = ParsePair(v.substr(0, mid), x, y) && x >= 0 && x <= 1000 &&
           (mid == std::string_view::npos || (ParseNumber(v.substr(mid + 1), count) && count >= 0 && count <= 1e12));
      o.impulseRate = x;
      o.impulseDbfs = y;
      o.impulseCount = static_cast<std::uint64_t>(count);
    } else if (a == "--drop-udp") {
      ok = ParseNumber(v, o.dropUdp) && o.dropUdp >= 0 && o.dropUdp <= 1;
    } else if (a == "--drop-log") {
      o.dropLog = std::string(v);
      ok = !o.dropLog.empty();
    } else if (a == "--reorder-udp") {
      ok = ParseNumber(v, o.reorderUdp) && o.reorderUdp >= 0 && o.reorderUdp <= 1;
    } else if (a == "--duplicate-udp") {
      ok = ParseNumber(v, o.duplicateUdp) && o.duplicateUdp >= 0 && o.duplicateUdp <= 1;
    } else if (a == "--corrupt-stream") {
      ok = ParseNumber(v, o.corruptStream) && o.corruptStream >= 0 && o.corruptStream <= 1;
    } else if (a == "--reboot-after") {
      ok = ParseNumber(v, o.rebootAfter) && o.rebootAfter > 0;
    } else if (a == "--command-log") {
      o.commandLog = std::string(v);
      ok = !o.commandLog.empty();
    } else if (a == "--clock-offset") {
      ok = ParseNumber(v, o.clockOffset);
    } else if (a == "--bad-descriptions") {
      ok = ParseNumber(v, o.badDescriptionsEvery) && o.badDescriptionsEvery >= 0;
    } else if (a == "--dump-samples") {
      ok = ParseNumber(v, x) && x >= 1 && x <= 1e9;
      o.dumpSamples = static_cast<std::uint64_t>(x);
    } else if (a == "--close-link-after") {
      ok = ParseNumber(v, o.closeLinkAfter) && o.closeLinkAfter >= 0;
    } else if (a == "--start-timeout") {
      ok = ParseNumber(v, o.startTimeout) && o.startTimeout >= 0;
    } else if (a == "--stream-limit") {
      ok = ParseNumber(v, o.streamLimit) && o.streamLimit >= 0;
    } else if (a == "--stop-streams-after") {
      ok = ParseNumber(v, o.stopStreamsAfter) && o.stopStreamsAfter >= 0;
    } else if (a == "--reboot-delay") {
      ok = ParseNumber(v, o.rebootDelay) && o.rebootDelay >= 0;
    } else if (a == "--corrupt") {
      ok = ParseNumber(v, o.corruptFraction) && o.corruptFraction >= 0 && o.corruptFraction <= 1;
    } else if (a == "--delay") {
      const auto colon = v.find(':');
      ok = colon == 1 && ParseNumber(v.substr(2), x) && x >= 0;
      if (ok) o.delayLetters[v[0]] = x;
    } else if (a == "--withhold") {
      ok = v.size() == 1;
      if (ok) o.withholdLetters.push_back(v[0]);
    } else if (a == "--setup-error") {
      std::uint16_t code = 0;
      ok = ParseNumber(v, code);
      o.setupError = code;
    } else if (a == "--enquiry-frames") {
      std::size_t n = 0;
      ok = ParseNumber(v, n);
      o.enquiryFrames = n;
    } else if (a == "--storage") {
      o.storage = std::string(v);
      ok = !o.storage.empty();
    } else if (a == "--ftp-fail-list") {
      o.ftpFailList = std::string(v);
      ok = !o.ftpFailList.empty();
    } else if (a == "--ftp-stop-after") {
      std::uint64_t n = 0;
      ok = ParseNumber(v, n);
      o.ftpStopAfter = n;
    } else if (a == "--fs-busy") {
      ok = ParseNumber(v, o.fsBusy) && o.fsBusy >= 0;
    } else if (a == "--echo-flip") {
      const auto colon = v.find(':');
      SimOptions::EchoFlip flip;
      ok = colon != std::string_view::npos && ParseNumber(v.substr(0, colon), flip.recordType) &&
           ParseNumber(v.substr(colon + 1), flip.offset);
      o.echoFlip = flip;
    } else {
      return fail("unknown option " + std::string(a));
    }
    if (!ok) return fail("bad value for " + std::string(a) + ": " + std::string(v));
  }
  result.options = std::move(o);
  return result;
}

}  // namespace hylo::sim
