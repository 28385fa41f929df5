#pragma once
// Shared pieces of the command-link tests: a started thread set with capturing workers, a fake
// transport that records what is written and lets a test play the instrument, and a scripted
// command link for the modules above the link.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/HyloThreadControl.h"
#include "link/CommandLink.h"
#include "link/HyloComms.h"
#include "link/LinkRecords.h"
#include "platform/LinkTransport.h"
#include "shell/ScriptedOperator.h"
#include "wire/CRC_Update.h"

namespace linktest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

inline Bytes Frame(std::uint8_t letter, const Bytes& payload) {
  Bytes out(payload.size() + 6);
  EXPECT_EQ(hylo::BuildFrame(letter, payload, out), static_cast<int>(out.size()));
  return out;
}

// A reply as a command link hands it to its caller: the frame without its CRC.
inline Bytes Reply(std::uint8_t letter, const Bytes& payload) {
  Bytes f = {'*', letter, static_cast<std::uint8_t>(payload.size()), static_cast<std::uint8_t>(payload.size() >> 8)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

struct SeenReply {
  std::uint8_t letter;
  Bytes payload;
};

// Keeps every reply frame it is handed.
class CaptureWorker final : public hylo::Worker {
 public:
  bool Handle(hylo::MessageNode& node) override {
    std::lock_guard guard(mutex_);
    if (node.type == hylo::MSG_REPLY_FRAME) {
      const auto& r = node.As<hylo::ReplyFrame>();
      seen_.push_back({r.letter, Bytes(r.Payload().begin(), r.Payload().end())});
    }
    changed_.notify_all();
    return false;
  }
  bool WaitCount(std::size_t n, std::chrono::milliseconds limit = 5s) {
    std::unique_lock guard(mutex_);
    return changed_.wait_for(guard, limit, [&] { return seen_.size() >= n; });
  }
  std::vector<SeenReply> Seen() {
    std::lock_guard guard(mutex_);
    return seen_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SeenReply> seen_;
};

// CommsThread and a capturing MsgProc over fresh pools, for the transports' tests.
struct CommsRig {
  hylo::HyloNodes nodes;
  hylo::HyloThreadControl threads{nodes};
  hylo::ScriptedOperator op;
  hylo::LinkState link;
  hylo::LinkClock clock;
  hylo::HyloParser parser{threads};
  std::unique_ptr<hylo::HyloComms> comms;
  CaptureWorker msgProc;

  // `beforeStart` wires what the transport needs once the comms thread exists.
  void StartComms(hylo::LinkHooks hooks = {}, const std::function<void()>& beforeStart = {}) {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    ASSERT_EQ(nodes.CreateSampleBufferPool(), 0);
    comms = std::make_unique<hylo::HyloComms>(threads, op, link, parser, clock);
    comms->SetHooks(std::move(hooks));
    threads.SetWorker(hylo::COMMS_THREAD, comms.get());
    threads.SetWorker(hylo::MSG_PROC_THREAD, &msgProc);
    if (beforeStart) beforeStart();
    ASSERT_EQ(threads.StartWorkerThreads(), 0);
    parser.InitReplyParser();
  }
};

// A link whose writes are recorded; reads return what the test queued.
class FakeLink final : public hylo::LinkTransport {
 public:
  int Write(std::span<const std::uint8_t> bytes, int) override {
    std::lock_guard guard(mutex_);
    writes_.emplace_back(bytes.begin(), bytes.end());
    changed_.notify_all();
    return static_cast<int>(bytes.size());
  }
  int Read(std::span<std::uint8_t> out, int) override {
    std::lock_guard guard(mutex_);
    if (incoming_.empty()) return 0;
    Bytes next = std::move(incoming_.front());
    incoming_.pop_front();
    const std::size_t n = std::min(next.size(), out.size());
    std::copy_n(next.begin(), n, out.begin());
    return static_cast<int>(n);
  }
  void Close() override {}
  void Queue(Bytes bytes) {
    std::lock_guard guard(mutex_);
    incoming_.push_back(std::move(bytes));
  }
  bool WaitWrites(std::size_t n, std::chrono::milliseconds limit = 5s) {
    std::unique_lock guard(mutex_);
    return changed_.wait_for(guard, limit, [&] { return writes_.size() >= n; });
  }
  std::vector<Bytes> Writes() {
    std::lock_guard guard(mutex_);
    return writes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Bytes> writes_;
  std::deque<Bytes> incoming_;
};

// A command link whose answers the test scripts; it records what was opened and sent.
class ScriptedLink final : public hylo::CommandLink {
 public:
  // The reply bytes to a Transact, or none for a time-out.
  std::function<std::optional<Bytes>(std::uint8_t letter, const Bytes& payload, int expected)> answer;
  std::map<int, bool> tcpAccepts;  // ports that take a connection
  std::vector<std::pair<std::string, int>> opened;
  std::vector<std::pair<std::uint8_t, Bytes>> sent;
  int type = hylo::LINK_NONE;

  bool OpenTcp(const std::string& host, int port, int) override {
    opened.emplace_back(host, port);
    type = tcpAccepts[port] ? hylo::LINK_ETHERNET : hylo::LINK_NONE;
    return type == hylo::LINK_ETHERNET;
  }
  bool OpenSerial(int, int, int) override {
    type = hylo::LINK_SERIAL;
    return true;
  }
  void Close() override { type = hylo::LINK_NONE; }
  int ConnectionType() const override { return type; }
  std::optional<Bytes> Transact(std::uint8_t letter, std::span<const std::uint8_t> payload, int expected, bool,
                                const std::atomic<bool>&) override {
    sent.emplace_back(letter, Bytes(payload.begin(), payload.end()));
    return answer ? answer(letter, sent.back().second, expected) : std::nullopt;
  }
  int Send(std::uint8_t letter, std::span<const std::uint8_t> payload, bool) override {
    sent.emplace_back(letter, Bytes(payload.begin(), payload.end()));
    return 0;
  }
  void CancelCommands() override {}
  std::vector<std::uint8_t> Letters() const {
    std::vector<std::uint8_t> l;
    for (const auto& s : sent) l.push_back(s.first);
    return l;
  }
};

}  // namespace linktest
