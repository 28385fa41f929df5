#pragma once
// The epoch message channel: a TCP connection on which an Ethernet unit sends one
// NUL-terminated text per epoch event. Each text goes to the display thread (the epoch
// window) and to the logging thread (the instrument epoch log) as a side-0 MSG_TEXT.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "stream/StreamChannels.h"

namespace hylo {

namespace platform {
class DataSockets;
}
class HyloThreadControl;

inline constexpr std::string_view kEpochConnectedText = "Connection Established\n";
inline constexpr std::string_view kEpochTerminatedText = "Connection Terminated\n";
inline constexpr std::string_view kEpochNoEthernetText = "Cannot connect as no ethernet unit is connected.";
inline constexpr std::string_view kEpochConnectFailedText = "Epoch message stream connection failed.";

// Cuts the channel's bytes into texts. A text split across reads is joined; one longer than
// a read (1460 bytes) is cut there rather than overflow.
class EpochTextSplitter {
 public:
  static constexpr std::size_t kReadBytes = 1460;
  // Calls `post` for each whole text; a post that returns false drops the rest of the block.
  void Feed(std::span<const std::uint8_t> block, const std::function<bool(std::string_view)>& post);
  void Reset() { used_ = 0; }
  std::size_t Pending() const { return used_; }

 private:
  std::array<char, kReadBytes + 1> buffer_{};
  std::size_t used_ = 0;
};

class EpochChannel {
 public:
  explicit EpochChannel(HyloThreadControl& threads);
  ~EpochChannel();
  EpochChannel(const EpochChannel&) = delete;
  EpochChannel& operator=(const EpochChannel&) = delete;

  // Operator messages (connect refused or failed).
  void SetNotice(std::function<void(std::string_view)> notice) { notice_ = std::move(notice); }
  // `ConnectEpochChannel` (blocking; the scanning start runs it as a pool task): 0 when
  // connected (or already), −1 otherwise.
  int ConnectEpochChannel(const StreamChannels::Peer& peer, bool ethernet);
  // Schedules the connect on its pool place unless connected or a connect runs.
  void Start(const StreamChannels::Peer& peer, bool ethernet);
  void DisconnectEpochChannel();
  bool Connected() const { return connected_.load(); }
  // One epoch text message with its side (0 instrument, 1 host) to the display and logging threads.
  bool PostText(int side, std::string_view text);

 private:
  void OnData(std::span<const std::uint8_t> bytes);
  void OnClosed();

  HyloThreadControl& threads_;
  std::function<void(std::string_view)> notice_;
  std::mutex lock_;
  std::unique_ptr<platform::DataSockets> sockets_;
  int handle_ = 0;
  std::atomic<bool> connected_{false};
  EpochTextSplitter splitter_;  // socket thread only
};

}  // namespace hylo
