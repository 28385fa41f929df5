#include "stream/EpochChannel.h"

#include <algorithm>
#include <cstring>

#include "core/Post.h"
#include "core/TextMessage.h"
#include "link/LinkState.h"
#include "platform/DataSockets.h"
#include "stream/ParseStreams.h"

namespace hylo {

void EpochTextSplitter::Feed(std::span<const std::uint8_t> block, const std::function<bool(std::string_view)>& post) {
  for (std::uint8_t byte : block) {
    if (byte != 0) {
      buffer_[used_++] = static_cast<char>(byte);
      if (used_ < kReadBytes) continue;
    }
    // A NUL ends a text; a full buffer ends an over-long one, cut.
    const std::string_view text(buffer_.data(), used_);
    used_ = 0;
    if (text.empty()) continue;
    if (!post(text)) return;
  }
}

EpochChannel::EpochChannel(HyloThreadControl& threads) : threads_(threads) {}

// The thread control may be gone already: only the sockets (and their thread) end here.
EpochChannel::~EpochChannel() { sockets_.reset(); }

bool EpochChannel::PostText(int side, std::string_view text) {
  auto fill = [&](MessageNode& node) { FillTextMessage(node, static_cast<std::uint16_t>(side), text); };
  const bool shown = Post(threads_, UI_UPDATE_THREAD, MSG_TEXT, fill);
  const bool logged = Post(threads_, LOG_THREAD, MSG_TEXT, fill);
  return shown && logged;
}

int EpochChannel::ConnectEpochChannel(const StreamChannels::Peer& peer, bool ethernet) {
  if (!ethernet) {
    if (notice_) notice_(kEpochNoEthernetText);
    return -1;
  }
  std::lock_guard guard(lock_);
  if (connected_) return 0;
  if (!sockets_) sockets_ = std::make_unique<platform::DataSockets>();
  if (handle_ != 0) sockets_->Close(handle_);  // one the unit ended earlier
  handle_ = 0;
  splitter_.Reset();
  connected_ = true;  // before the first read can arrive
  handle_ = sockets_->OpenTcp(
      peer.host, EpochTcpPort(peer.portBase), peer.timeoutMs, {},
      [this](platform::DataSockets::Reads reads) {
        for (const auto read : reads) OnData(read);
      },
      [this] { OnClosed(); });
  if (handle_ == 0) {
    connected_ = false;
    if (notice_) notice_(kEpochConnectFailedText);
    return -1;
  }
  PostText(0, kEpochConnectedText);
  return 0;
}

void EpochChannel::Start(const StreamChannels::Peer& peer, bool ethernet) {
  if (connected_ || threads_.TaskRunning(EPOCH_CONNECT_TASK)) return;
  threads_.StartTask(EPOCH_CONNECT_TASK, [this, peer, ethernet] { ConnectEpochChannel(peer, ethernet); });
}

void EpochChannel::OnData(std::span<const std::uint8_t> bytes) {
  splitter_.Feed(bytes, [this](std::string_view text) { return PostText(0, text); });
}

void EpochChannel::OnClosed() {
  // On the socket thread: the handle is closed by the next connect or the disconnect.
  if (connected_.exchange(false)) PostText(0, kEpochTerminatedText);
}

void EpochChannel::DisconnectEpochChannel() {
  if (threads_.TaskRunning(EPOCH_CONNECT_TASK)) threads_.WaitTask(EPOCH_CONNECT_TASK);
  std::lock_guard guard(lock_);
  connected_ = false;
  if (sockets_ && handle_ != 0) sockets_->Close(handle_);
  handle_ = 0;
}

}  // namespace hylo
