#include "link/HyloComms.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>

#include "core/Post.h"
#include "platform/SerialPort.h"
#include "wire/CRC_Update.h"

namespace hylo {
namespace {
constexpr std::size_t kReplyArea = 8000;  // room for every reply a command may be answered with
}  // namespace

int BuildFrame(std::uint8_t letter, std::span<const std::uint8_t> payload, std::span<std::uint8_t> out) {
  const std::size_t n = payload.size();
  if (n > cmd::kMaxCommandPayload || out.size() < n + cmd::kFrameOverhead) return -1;
  out[0] = cmd::kStartByte;
  out[1] = letter;
  out[2] = static_cast<std::uint8_t>(n & 0xFF);
  out[3] = static_cast<std::uint8_t>(n >> 8);
  std::copy(payload.begin(), payload.end(), out.begin() + 4);
  const std::uint16_t crc = CRC_Update(0, std::span<const std::uint8_t>(out.first(n + 4)));
  out[n + 4] = static_cast<std::uint8_t>(crc & 0xFF);
  out[n + 5] = static_cast<std::uint8_t>(crc >> 8);
  return static_cast<int>(n + cmd::kFrameOverhead);
}

HyloComms::HyloComms(HyloThreadControl& threads, OperatorPort& op, LinkState& link, HyloParser& parser,
                     LinkClock& clock)
    : threads_(threads), operator_(op), link_(link), parser_(parser), clock_(clock) {}

void HyloComms::SetTransport(std::shared_ptr<LinkTransport> transport) {
  std::lock_guard guard(transportLock_);
  transport_ = std::move(transport);
}

std::shared_ptr<LinkTransport> HyloComms::Transport() const {
  std::lock_guard guard(transportLock_);
  return transport_;
}

bool HyloComms::OpenTcp(TcpEventLoop& loop, const std::string& host, int port, int timeoutMs) {
  CloseLink();
  auto tcp = TcpLink::Connect(loop, host, port, timeoutMs, [this](TcpNotice notice) {
    OnTcpEvent(notice == TcpNotice::DataReady ? TcpEvent::DataReady : TcpEvent::Disconnected);
  });
  if (!tcp) return false;
  link_.tcpTimeoutMs.store(timeoutMs);
  SetTransport(tcp);
  link_.connectionType.store(LINK_ETHERNET);
  tcp->Watch();
  return true;
}

bool HyloComms::OpenSerial(const std::string& device, int baud, int comPort) {
  CloseLink();
  auto port = SerialPort::Open(device, baud);
  if (!port) return false;
  link_.comPort.store(comPort);
  link_.baudRate.store(baud);
  link_.serialTimeoutMs.store(SerialTimeoutForBaud(baud));
  parser_.ResetReplyParser();
  SetTransport(std::move(port));
  link_.connectionType.store(LINK_SERIAL);
  return true;
}

void HyloComms::CloseLink() {
  link_.connectionType.store(LINK_NONE);
  std::shared_ptr<LinkTransport> old;
  {
    std::lock_guard guard(transportLock_);
    old.swap(transport_);
  }
  if (old) old->Close();
}

int HyloComms::SendCommand(std::uint8_t letter, std::int16_t length, std::span<const std::uint8_t> payload,
                           WaitSemaphore* waitSemaphore, std::uint8_t* replyBuffer, std::int32_t* replyLength,
                           int expectedReplies, bool forward, std::uint32_t extraSerialMs) {
  const int type = link_.connectionType.load();
  if (type != LINK_ETHERNET && type != LINK_SERIAL) return kSendFailed;
  if (stopped_) return kSendFailed;
  const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
  if (n > payload.size() || n > cmd::kMaxCommandPayload) return kSendFailed;
  if (expectedReplies < 0 || expectedReplies > 255) return kSendFailed;
  const bool queued = Post(threads_, COMMS_THREAD, MSG_SEND_COMMAND, [&](MessageNode& node) {
    auto& record = node.As<CommandRecord>();
    record.frameLength = BuildFrame(letter, payload.first(n), record.frame);
    record.waitSemaphore = waitSemaphore;
    record.replyBuffer = replyBuffer;
    record.replyLength = replyLength;
    record.expectedReplies = static_cast<std::uint8_t>(expectedReplies);
    record.forward = forward ? 1 : 0;
    record.replyCapacity = replyLength ? std::max<std::int32_t>(*replyLength, 0) : 0;
    if (!replyBuffer) record.replyCapacity = 0;
    record.replyStored = 0;
    record.deadlineMs = 0;
    record.linkType = type;
    record.tcpTimeoutMs = link_.tcpTimeoutMs.load();
    if (type == LINK_SERIAL) {
      record.comPort = link_.comPort.load();
      record.tcpHandle = 0;
      record.timeoutMs = static_cast<std::uint32_t>(std::max(link_.serialTimeoutMs.load(), 0)) + extraSerialMs;
    } else {
      record.comPort = 0;
      record.tcpHandle = link_.tcpHandle.load();
      record.timeoutMs = static_cast<std::uint32_t>(std::max(record.tcpTimeoutMs, 0)) * record.expectedReplies;
    }
  });
  return queued ? 0 : kSendFailed;
}

bool HyloComms::CancelCommands() { return Post(threads_, COMMS_THREAD, MSG_CANCEL_COMMANDS); }

int HyloComms::SendAndWait(std::uint8_t letter, std::span<const std::uint8_t> payload,
                           std::span<std::uint8_t> replyBuffer, int expectedReplies, bool forward,
                           const std::atomic<bool>* cancel, std::uint32_t extraSerialMs) {
  if (payload.size() > cmd::kMaxCommandPayload) return -kSendFailed;
  WaitSemaphore done(0);
  std::int32_t replyLength = static_cast<std::int32_t>(std::min<std::size_t>(replyBuffer.size(), 0x7FFFFFFF));
  if (SendCommand(letter, static_cast<std::int16_t>(payload.size()), payload, &done, replyBuffer.data(), &replyLength,
                  expectedReplies, forward, extraSerialMs) != 0)
    return -kSendFailed;
  bool cancelled = false;
  // Short steps so a cancel is seen; after a cancel the release is still awaited because
  // CommsThread owns the buffer and semaphore until it signals, or until it has stopped
  // (it releases everything it holds first and never takes another command).
  while (!done.try_acquire_for(std::chrono::milliseconds(100))) {
    if (stopped_) return -1;
    if (!cancelled && cancel && cancel->load()) {
      cancelled = true;
      CancelCommands();
    }
  }
  return cancelled ? -1 : replyLength;
}

CommandReply HyloComms::SendCommand(std::uint8_t letter, std::span<const std::uint8_t> payload, int expectedReplies,
                                    bool forward, const std::atomic<bool>* cancel, std::uint32_t extraSerialMs) {
  CommandReply out;
  out.replies.resize(kReplyArea);
  out.result = SendAndWait(letter, payload, out.replies, expectedReplies, forward, cancel, extraSerialMs);
  out.replies.resize(out.result > 0 ? static_cast<std::size_t>(out.result) : 0);
  return out;
}

void HyloComms::Release(CommandRecord& record, bool failed) {
  if (failed && record.replyLength) *record.replyLength = -1;
  if (record.waitSemaphore) record.waitSemaphore->release();
}

bool HyloComms::Handle(MessageNode& node) {
  receiveTimeout_ = -1;
  nowMs_ = clock_.NowMs();
  bool passedOn = false;
  switch (node.type) {
    case MSG_CANCEL_COMMANDS:
      for (int i = 0; i < outstandingCount_; ++i) outstanding_[static_cast<std::size_t>(i)].deadlineMs = 0;
      // 0 < now is needed for "deadline passed": a clock at 0 would miss it.
      if (nowMs_ == 0) nowMs_ = 1;
      // Waiters still queued are released too: a cancel must free every caller now, not
      // after each queued command has had its own time-out.
      {
        int kept = 0;
        for (int i = 0; i < pendingCount_; ++i) {
          auto& record = pending_[static_cast<std::size_t>((pendingRead_ + i) % kPendingCapacity)];
          if (record.waitSemaphore) {
            Release(record, true);
          } else {
            pending_[static_cast<std::size_t>((pendingRead_ + kept) % kPendingCapacity)] = record;
            ++kept;
          }
        }
        pendingCount_ = kept;
        pendingWrite_ = (pendingRead_ + kept) % kPendingCapacity;
      }
      break;
    case MSG_SEND_COMMAND: {
      auto& record = node.As<CommandRecord>();
      if (pendingCount_ < kPendingCapacity) {
        pending_[static_cast<std::size_t>(pendingWrite_)] = record;
        pendingWrite_ = (pendingWrite_ + 1) % kPendingCapacity;
        ++pendingCount_;
      } else if (record.waitSemaphore) {
        Release(record, true);
      }
      break;
    }
    case MSG_REPLY_FRAME:
      passedOn = OnReply(node);
      break;
    default:
      break;
  }
  ExpireAndWrite();
  return passedOn;
}

void HyloComms::OnQuit() {
  for (int i = 0; i < outstandingCount_; ++i) Release(outstanding_[static_cast<std::size_t>(i)], true);
  outstandingCount_ = 0;
  for (int i = 0; i < pendingCount_; ++i)
    Release(pending_[static_cast<std::size_t>((pendingRead_ + i) % kPendingCapacity)], true);
  pendingCount_ = 0;
  pendingRead_ = pendingWrite_ = 0;
  stopped_ = true;
}

void HyloComms::OnTimeout() {
  receiveTimeout_ = -1;
  nowMs_ = clock_.NowMs();
  ExpireAndWrite();
}

bool HyloComms::OnReply(MessageNode& node) {
  const auto& reply = node.As<ReplyFrame>();
  const std::int32_t n = std::clamp<std::int32_t>(reply.length, 0, static_cast<std::int32_t>(cmd::kMaxReplyPayload));
  bool forward = true;
  for (int i = 0; i < outstandingCount_; ++i) {
    auto& record = outstanding_[static_cast<std::size_t>(i)];
    if (record.Letter() != reply.letter) continue;
    auto removeThis = [&] {
      record = outstanding_[static_cast<std::size_t>(outstandingCount_ - 1)];
      --outstandingCount_;
    };
    if (!record.waitSemaphore) {
      removeThis();
    } else {
      if (record.expectedReplies > 0) --record.expectedReplies;
      const std::int32_t space = record.replyCapacity - record.replyStored;
      if (record.replyBuffer && n + 6 < space) {
        std::uint8_t* at = record.replyBuffer + record.replyStored;
        at[0] = cmd::kStartByte;
        at[1] = reply.letter;
        at[2] = static_cast<std::uint8_t>(n & 0xFF);
        at[3] = static_cast<std::uint8_t>(n >> 8);
        std::copy_n(reply.payload.begin(), n, at + 4);
        record.replyStored += n + 4;
        if (record.replyLength) *record.replyLength = record.replyStored;
      }
      forward = record.forward != 0;
      if (record.expectedReplies == 0) {
        Release(record, false);
        removeThis();
      }
    }
    break;
  }
  if (!forward) return false;
  if (threads_.PostNode(MSG_PROC_THREAD, &node) != 1) return false;  // the loop frees it
  return true;
}

void HyloComms::ExpireAndWrite() {
  for (int i = outstandingCount_ - 1; i >= 0; --i) {
    auto& record = outstanding_[static_cast<std::size_t>(i)];
    if (record.deadlineMs < nowMs_) {
      if (record.waitSemaphore) Release(record, true);
      record = outstanding_[static_cast<std::size_t>(outstandingCount_ - 1)];
      --outstandingCount_;
    } else if (record.linkType == LINK_SERIAL && hooks_.wakeSerialReader) {
      hooks_.wakeSerialReader();
    }
  }
  if (outstandingCount_ > 0) {
    receiveTimeout_ = 10;
    return;
  }
  if (pendingCount_ == 0) return;
  CommandRecord& record = pending_[static_cast<std::size_t>(pendingRead_)];
  pendingRead_ = (pendingRead_ + 1) % kPendingCapacity;
  --pendingCount_;
  // The word is zeroed before the write: a fast reply must find it counting from 0.
  if (record.replyLength) *record.replyLength = 0;
  record.replyStored = 0;
  record.deadlineMs = nowMs_ + record.timeoutMs;
  outstanding_[static_cast<std::size_t>(outstandingCount_++)] = record;
  WriteFrame(outstanding_[static_cast<std::size_t>(outstandingCount_ - 1)]);
  receiveTimeout_ = 10;
}

int HyloComms::WriteFrame(const CommandRecord& record) {
  const auto transport = Transport();
  if (!transport) return -1;
  const auto frame =
      std::span<const std::uint8_t>(record.frame)
          .first(static_cast<std::size_t>(std::clamp<std::int32_t>(record.frameLength, 0, cmd::kFrameArea)));
  if (record.linkType == LINK_ETHERNET) return transport->Write(frame, record.tcpTimeoutMs);
  if (!transport->FlushOutput()) {
    transport->Close();
    SerialLinkLost();
    return -1;
  }
  const int written = transport->Write(frame, record.tcpTimeoutMs);
  if (written < record.frameLength) {
    transport->Close();
    SerialLinkLost();
  } else if (hooks_.wakeSerialReader) {
    hooks_.wakeSerialReader();
  }
  return written;
}

int HyloComms::ReadLink() {
  const int type = link_.connectionType.load();
  const auto transport = Transport();
  if (!transport || (type != LINK_ETHERNET && type != LINK_SERIAL)) return -1;
  std::lock_guard guard(readLock_);
  const int attempts = type == LINK_SERIAL ? 1 : 80;
  for (int i = 0; i < attempts; ++i) {
    int got = 0;
    if (type == LINK_SERIAL) {
      if (link_.serialStop.load()) {
        link_.serialStopAck.store(true);
        parser_.ResetReplyParser();
        return -2;
      }
      got = transport->Read(readBuffer_, 5);
    } else {
      got = transport->Read(readBuffer_, link_.tcpTimeoutMs.load());
    }
    if (got < 0) return got;
    if (got == 0) continue;
    const auto n = std::min<std::size_t>(static_cast<std::size_t>(got), readBuffer_.size());
    return parser_.ParseReplyBytes(std::span<const std::uint8_t>(readBuffer_).first(n));
  }
  return -1;
}

void HyloComms::OnTcpEvent(TcpEvent event) {
  if (event == TcpEvent::DataReady) {
    ReadLink();
    return;
  }
  if (event != TcpEvent::Disconnected) return;
  if (hooks_.resetConnectionDisplay) hooks_.resetConnectionDisplay();
  const auto transport = Transport();
  bool reconnected = false;
  for (int i = 0; i < 3 && transport && !reconnected; ++i) reconnected = transport->Reconnect();
  const long long second = static_cast<long long>(std::time(nullptr));
  if (reconnected && second != lastReconnectSecond_) {
    link_.connectionType.store(LINK_ETHERNET);
    Log("Ethernet reconnected");
    lastReconnectSecond_ = second;
    SendCommand(cmd::kIdentify, 0, {}, nullptr, nullptr, nullptr, 0, true);
    return;
  }
  if (transport) transport->Close();
  link_.connectionType.store(LINK_NONE);
  Log("Ethernet disconnected");
  if (hooks_.stopScanning && !(hooks_.replayRunning && hooks_.replayRunning())) hooks_.stopScanning();
  operator_.ShowNotice("Ethernet connection lost.\nPlease check your connection and connect again.");
}

void HyloComms::SerialLinkLost() {
  if (hooks_.stopScanning) hooks_.stopScanning();
  link_.connectionType.store(LINK_NONE);
  if (hooks_.refreshConnectionPanel) hooks_.refreshConnectionPanel();
  if (hooks_.resetConnectionDisplay) hooks_.resetConnectionDisplay();
  operator_.ShowNotice("Serial Comms lost. Please reconnect.");
  // The status log puts the time of day in front.
  Log("Serial Comms lost.");
}

}  // namespace hylo
