#include "platform/TcpLink.h"

#include <poll.h>

#include <asio.hpp>
#include <chrono>
#include <future>

namespace hylo {

struct TcpEventLoop::Impl {
  asio::io_context context;
  asio::executor_work_guard<asio::io_context::executor_type> work{context.get_executor()};
};

TcpEventLoop::TcpEventLoop() : impl_(std::make_unique<Impl>()) {
  thread_ = std::thread([this] { impl_->context.run(); });
}

TcpEventLoop::~TcpEventLoop() {
  impl_->work.reset();
  impl_->context.stop();
  if (thread_.joinable()) thread_.join();
}

asio::io_context& TcpEventLoop::Context() { return impl_->context; }

namespace {

// Waits up to timeoutMs for the socket to become readable or writable.
bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs) > 0;
}

}  // namespace

struct TcpLink::Impl {
  TcpEventLoop& loop;
  std::string host;
  int port = 0;
  int timeoutMs = 0;
  Handler handler;
  std::mutex lock;  // one socket operation at a time
  asio::ip::tcp::socket socket{loop.Context()};
  bool open = false;
  std::weak_ptr<TcpLink> self;

  explicit Impl(TcpEventLoop& l) : loop(l) {}

  bool ConnectSocket() {
    asio::error_code ec;
    asio::ip::tcp::resolver resolver(loop.Context());
    const auto endpoints = resolver.resolve(host, std::to_string(port), ec);
    if (ec) return false;
    for (const auto& entry : endpoints) {
      asio::ip::tcp::socket s(loop.Context());
      s.open(entry.endpoint().protocol(), ec);
      if (ec) continue;
      s.non_blocking(true, ec);
      s.connect(entry.endpoint(), ec);
      if (ec == asio::error::would_block || ec == asio::error::in_progress) {
        if (!WaitFor(s.native_handle(), POLLOUT, timeoutMs)) continue;
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(s.native_handle(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) continue;
        ec.clear();
      }
      if (ec) continue;
      s.set_option(asio::ip::tcp::no_delay(true), ec);
      socket = std::move(s);
      open = true;
      return true;
    }
    return false;
  }

  void CloseSocket() {
    asio::error_code ec;
    socket.close(ec);
    open = false;
  }

  // Runs on the event thread.
  void Arm() {
    socket.async_wait(asio::socket_base::wait_read, [weak = self](const asio::error_code& ec) {
      auto link = weak.lock();
      if (!link || ec) return;
      link->impl_->OnReadable();
    });
  }

  void OnReadable() {
    bool closed = false;
    {
      std::lock_guard guard(lock);
      if (!open) return;
      std::uint8_t probe = 0;
      asio::error_code ec;
      const auto n = socket.receive(asio::buffer(&probe, 1), asio::socket_base::message_peek, ec);
      closed = (ec && ec != asio::error::would_block) || (!ec && n == 0);
    }
    if (handler) handler(closed ? TcpNotice::Disconnected : TcpNotice::DataReady);
    std::lock_guard guard(lock);
    if (open && !closed) Arm();
  }
};

TcpLink::TcpLink(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::shared_ptr<TcpLink> TcpLink::Connect(TcpEventLoop& loop, const std::string& host, int port, int timeoutMs,
                                          Handler handler) {
  auto impl = std::make_unique<Impl>(loop);
  impl->host = host;
  impl->port = port;
  impl->timeoutMs = timeoutMs;
  impl->handler = std::move(handler);
  if (!impl->ConnectSocket()) return nullptr;
  auto link = std::make_shared<TcpLink>(std::move(impl));
  link->impl_->self = link;
  return link;
}

void TcpLink::Watch() {
  asio::post(impl_->loop.Context(), [weak = impl_->self] {
    if (auto l = weak.lock()) {
      std::lock_guard guard(l->impl_->lock);
      if (l->impl_->open) l->impl_->Arm();
    }
  });
}

TcpLink::~TcpLink() {
  std::lock_guard guard(impl_->lock);
  impl_->CloseSocket();
}

int TcpLink::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
  std::lock_guard guard(impl_->lock);
  if (!impl_->open) return -1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::size_t done = 0;
  while (done < bytes.size()) {
    asio::error_code ec;
    done += impl_->socket.write_some(asio::buffer(bytes.data() + done, bytes.size() - done), ec);
    if (!ec) continue;
    if (ec != asio::error::would_block) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitFor(impl_->socket.native_handle(), POLLOUT, static_cast<int>(left.count()))) break;
  }
  return static_cast<int>(done);
}

int TcpLink::Read(std::span<std::uint8_t> out, int) {
  std::lock_guard guard(impl_->lock);
  if (!impl_->open) return -1;
  asio::error_code ec;
  const auto n = impl_->socket.read_some(asio::buffer(out.data(), out.size()), ec);
  if (ec == asio::error::would_block) return 0;
  if (ec) return -1;
  return static_cast<int>(n);
}

bool TcpLink::Reconnect() {
  std::lock_guard guard(impl_->lock);
  impl_->CloseSocket();
  if (!impl_->ConnectSocket()) return false;
  if (impl_->loop.InThisThread()) {
    impl_->Arm();
  } else {
    Watch();
  }
  return true;
}

void TcpLink::Close() {
  std::lock_guard guard(impl_->lock);
  impl_->CloseSocket();
}

}  // namespace hylo
