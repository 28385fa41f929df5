#pragma once
// The command link's owner: SendCommand frames a command for CommsThread (slot 6), which
// writes commands one at a time, matches reply frames to them, times them out and forwards
// replies to MsgProcThread. ReadLink runs on the reader's thread and feeds the parser.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/HyloNodes.h"
#include "core/HyloThreadControl.h"
#include "core/Worker.h"
#include "link/HyloParser.h"
#include "link/LinkClock.h"
#include "link/LinkRecords.h"
#include "link/LinkState.h"
#include "platform/LinkTransport.h"
#include "platform/TcpLink.h"
#include "shell/OperatorPort.h"

namespace hylo {

// What the link asks of modules that come later; each may stay empty.
struct LinkHooks {
  std::function<void()> stopScanning;
  std::function<bool()> replayRunning;
  std::function<void()> resetConnectionDisplay;
  std::function<void()> refreshConnectionPanel;
  std::function<void(std::string_view)> statusLog;
  std::function<void()> wakeSerialReader;
};

enum class TcpEvent { DataReady, Disconnected, Other };

inline constexpr int kSendFailed = 12;

// A command's outcome as a value: the replies, each as "*", letter, length (2), payload.
struct CommandReply {
  int result = -kSendFailed;  // bytes of replies; −1 time-out, failure or cancel; −12 not queued
  std::vector<std::uint8_t> replies;
  bool Ok() const { return result >= 0; }
};
inline constexpr int kPendingCapacity = 100;
inline constexpr int kOutstandingCapacity = 10;

class HyloComms final : public Worker {
 public:
  HyloComms(HyloThreadControl& threads, OperatorPort& op, LinkState& link, HyloParser& parser, LinkClock& clock);

  void SetHooks(LinkHooks hooks) { hooks_ = std::move(hooks); }
  // The open link; none closes nothing, it only forgets. Connection management sets
  // connectionType itself.
  void SetTransport(std::shared_ptr<LinkTransport> transport);
  std::shared_ptr<LinkTransport> Transport() const;

  // Opens the TCP link with OnTcpEvent as its handler; on success connectionType = 0.
  bool OpenTcp(TcpEventLoop& loop, const std::string& host, int port, int timeoutMs);
  // Opens a serial port (8N1) at `baud`; the command time-out comes from the baud table.
  // On success connectionType = 1.
  bool OpenSerial(const std::string& device, int baud, int comPort = 0);
  // Forgets and closes the open link; connectionType = 3. For a serial link run it inside
  // HyloSerial::StopReaderAndClose.
  void CloseLink();

  // 0 when queued for CommsThread, 12 when not. Any thread.
  int SendCommand(std::uint8_t letter, std::int16_t length, std::span<const std::uint8_t> payload,
                  WaitSemaphore* waitSemaphore = nullptr, std::uint8_t* replyBuffer = nullptr,
                  std::int32_t* replyLength = nullptr, int expectedReplies = 0, bool forward = false,
                  std::uint32_t extraSerialMs = 0);

  // Sends and waits; on `cancel` asks CommsThread to time the command out and still waits
  // for its release, so nothing touches `replyBuffer` after this returns. Replies in
  // `replyBuffer`, −1 on failure, −12 when not queued. Any thread but CommsThread.
  int SendAndWait(std::uint8_t letter, std::span<const std::uint8_t> payload, std::span<std::uint8_t> replyBuffer,
                  int expectedReplies, bool forward, const std::atomic<bool>* cancel = nullptr,
                  std::uint32_t extraSerialMs = 0);
  // Sends and waits for `expectedReplies` replies (up to 8000 bytes in all). Any thread but
  // CommsThread.
  // `extraSerialMs` lengthens a serial command's time-out for long replies.
  CommandReply SendCommand(std::uint8_t letter, std::span<const std::uint8_t> payload, int expectedReplies = 1,
                           bool forward = false, const std::atomic<bool>* cancel = nullptr,
                           std::uint32_t extraSerialMs = 0);
  // Posts MSG_CANCEL_COMMANDS; false when it could not be posted.
  bool CancelCommands();

  // Writes one record's frame; bytes written or negative.
  int WriteFrame(const CommandRecord& record);
  // Reader side: frames delivered, −1 nothing read, −2 serial reader told to stop, or the read error.
  int ReadLink();
  // The TCP connection's notification handler (socket event thread).
  void OnTcpEvent(TcpEvent event);
  void SerialLinkLost();

  // Worker
  int ReceiveTimeoutMs() override { return receiveTimeout_; }
  bool Handle(MessageNode& node) override;
  void OnTimeout() override;
  void OnStart() override { stopped_ = false; }
  // Releases every waiter with −1; after this the thread touches no caller's buffer.
  void OnQuit() override;

  int PendingCount() const { return pendingCount_; }  // CommsThread only; for tests

 private:
  bool OnReply(MessageNode& node);
  void ExpireAndWrite();
  void Release(CommandRecord& record, bool failed);
  void Log(std::string_view line) {
    if (hooks_.statusLog) hooks_.statusLog(line);
  }

  HyloThreadControl& threads_;
  OperatorPort& operator_;
  LinkState& link_;
  HyloParser& parser_;
  LinkClock& clock_;
  LinkHooks hooks_;

  mutable std::mutex transportLock_;
  std::shared_ptr<LinkTransport> transport_;

  // CommsThread only.
  std::array<CommandRecord, kPendingCapacity> pending_{};
  int pendingWrite_ = 0;
  int pendingRead_ = 0;
  int pendingCount_ = 0;
  std::array<CommandRecord, kOutstandingCapacity> outstanding_{};
  int outstandingCount_ = 0;
  int receiveTimeout_ = -1;
  std::uint64_t nowMs_ = 0;
  // Set once CommsThread has released its waiters and left its loop: a command posted
  // after that is never taken, so its waiter must not wait for a release.
  std::atomic<bool> stopped_{false};

  // Socket event thread only.
  long long lastReconnectSecond_ = -1;
  std::array<std::uint8_t, cmd::kReadChunk> readBuffer_{};
  std::mutex readLock_;
};

}  // namespace hylo
