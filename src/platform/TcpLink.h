#pragma once
// The command link over TCP (standalone Asio). One TcpEventLoop thread is the socket event
// thread: it delivers data-ready and disconnect notices to the handler.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/LinkTransport.h"

namespace asio {
class io_context;
}

namespace hylo {

class TcpEventLoop {
 public:
  TcpEventLoop();
  ~TcpEventLoop();
  TcpEventLoop(const TcpEventLoop&) = delete;
  TcpEventLoop& operator=(const TcpEventLoop&) = delete;
  asio::io_context& Context();
  bool InThisThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::thread thread_;
};

enum class TcpNotice { DataReady, Disconnected };

class TcpLink final : public LinkTransport, public std::enable_shared_from_this<TcpLink> {
 public:
  using Handler = std::function<void(TcpNotice)>;
  // None when no connection could be made within timeoutMs. No notice arrives before Watch(),
  // so the owner can publish the link first and a peer that hangs up at once is not missed.
  static std::shared_ptr<TcpLink> Connect(TcpEventLoop& loop, const std::string& host, int port, int timeoutMs,
                                          Handler handler);
  ~TcpLink() override;
  void Watch();

  int Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
  int Read(std::span<std::uint8_t> out, int timeoutMs) override;
  bool Reconnect() override;
  void Close() override;

  struct Impl;
  explicit TcpLink(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace hylo
