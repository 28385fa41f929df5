#include "platform/DataSockets.h"

#include <array>
#include <asio.hpp>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace hylo::platform {
namespace {
constexpr std::size_t kReadBytes = 1460;
constexpr int kUdpReceiveBytes = 8 << 20;
constexpr std::size_t kBatchReads = 32;

// Reads gathered in one wake-up: the first by the asynchronous read, the rest by reads
// that do not wait, so a burst of datagrams costs one hand-on instead of one each.
struct ReadBatch {
  std::array<std::array<std::uint8_t, kReadBytes>, kBatchReads> buffers{};
  std::array<std::span<const std::uint8_t>, kBatchReads> reads{};
  std::size_t count = 0;
  asio::mutable_buffer Next() { return asio::buffer(buffers[count]); }
  void Keep(std::size_t n) {
    reads[count] = {buffers[count].data(), n};
    ++count;
  }
  bool Full() const { return count == kBatchReads; }
  DataSockets::Reads Taken() const { return {reads.data(), count}; }
};
}  // namespace

struct Channel {
  virtual ~Channel() = default;
  virtual void Send(std::span<const std::uint8_t> bytes) = 0;
  virtual void Close() = 0;
};

struct UdpChannel final : Channel, std::enable_shared_from_this<UdpChannel> {
  asio::ip::udp::socket socket;
  asio::ip::udp::endpoint peer;
  asio::ip::udp::endpoint from;
  ReadBatch batch;
  DataSockets::OnData onData;
  explicit UdpChannel(asio::io_context& io) : socket(io) {}
  void Read() {
    batch.count = 0;
    socket.async_receive_from(batch.Next(), from, [self = shared_from_this()](std::error_code e, std::size_t n) {
      // A connected UDP socket reports an ICMP "port unreachable" on
      // the next read (the unit not yet listening): read on.
      if (e == asio::error::connection_refused) {
        self->Read();
        return;
      }
      if (e) return;
      // Only the instrument's stream port may feed this stream (the
      // connected socket filters too; this holds where it does not).
      if (self->from == self->peer && n > 0) self->batch.Keep(n);
      self->TakeWaiting();
      if (self->batch.count > 0) self->onData(self->batch.Taken());
      self->Read();
    });
  }
  // The socket does not block: this ends at the first read that would.
  void TakeWaiting() {
    for (std::size_t tries = 1; tries < kBatchReads && !batch.Full(); ++tries) {
      std::error_code e;
      const std::size_t n = socket.receive_from(batch.Next(), from, 0, e);
      if (e) return;  // nothing more waiting; an ICMP report is taken and read past
      if (from == peer && n > 0) batch.Keep(n);
    }
  }
  void Send(std::span<const std::uint8_t> bytes) override {
    std::error_code e;
    const bool nonBlocking = socket.non_blocking();
    socket.non_blocking(false, e);
    socket.send_to(asio::buffer(bytes.data(), bytes.size()), peer, 0, e);
    socket.non_blocking(nonBlocking, e);
  }
  void Close() override {
    std::error_code e;
    socket.close(e);
  }
};

struct TcpChannel final : Channel, std::enable_shared_from_this<TcpChannel> {
  asio::ip::tcp::socket socket;
  ReadBatch batch;
  DataSockets::OnData onData;
  DataSockets::OnClosed onClosed;
  explicit TcpChannel(asio::io_context& io) : socket(io) {}
  void Read() {
    batch.count = 0;
    socket.async_read_some(batch.Next(), [self = shared_from_this()](std::error_code e, std::size_t n) {
      if (e) {
        self->Closed(e);
        return;
      }
      if (n > 0) self->batch.Keep(n);
      const std::error_code later = self->TakeWaiting();
      if (self->batch.count > 0) self->onData(self->batch.Taken());
      // The end of the stream met while taking what was waiting ends it after those bytes.
      if (later && later != asio::error::would_block && later != asio::error::try_again) {
        self->Closed(later);
        return;
      }
      self->Read();
    });
  }
  // The socket does not block: this ends at the first read that would (or fails).
  std::error_code TakeWaiting() {
    std::error_code e;
    while (!batch.Full()) {
      const std::size_t n = socket.read_some(batch.Next(), e);
      if (e) return e;
      if (n > 0) batch.Keep(n);
    }
    return e;
  }
  void Closed(std::error_code e) {
    if (e != asio::error::operation_aborted && onClosed) onClosed();
  }
  void Send(std::span<const std::uint8_t> bytes) override {
    // Requests are written whole: the socket waits while writing, as it does not while reading.
    std::error_code e;
    const bool nonBlocking = socket.non_blocking();
    socket.non_blocking(false, e);
    asio::write(socket, asio::buffer(bytes.data(), bytes.size()), e);
    socket.non_blocking(nonBlocking, e);
  }
  void Close() override {
    std::error_code e;
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, e);
    socket.close(e);
  }
};

struct DataSockets::Impl {
  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
  std::thread thread;
  std::mutex lock;
  std::map<int, std::shared_ptr<Channel>> channels;
  int next = 1;

  // Runs `f` on the socket thread and waits for it, so sockets are only touched there.
  template <typename F>
  auto OnThread(F f) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    asio::post(io, [&task] { task(); });
    return result.get();
  }
  int Add(std::shared_ptr<Channel> channel) {
    std::lock_guard guard(lock);
    channels[next] = std::move(channel);
    return next++;
  }
};

DataSockets::DataSockets() : impl_(std::make_unique<Impl>()) {
  impl_->thread = std::thread([this] { impl_->io.run(); });
}

DataSockets::~DataSockets() {
  CloseAll();
  impl_->work.reset();
  impl_->io.stop();
  impl_->thread.join();
}

int DataSockets::OpenUdp(const std::string& host, int port, std::span<const std::uint8_t> request, OnData onData) {
  std::vector<std::uint8_t> copy(request.begin(), request.end());
  auto channel = impl_->OnThread([&]() -> std::shared_ptr<UdpChannel> {
    std::error_code e;
    const auto address = asio::ip::make_address(host, e);
    if (e || port <= 0 || port > 65535) return nullptr;
    auto c = std::make_shared<UdpChannel>(impl_->io);
    c->peer = asio::ip::udp::endpoint(address, static_cast<unsigned short>(port));
    // Bound to the local address that faces the instrument (not every interface) and
    // connected to its port, so the kernel drops datagrams from anyone else.
    asio::ip::address local;
    {
      asio::ip::udp::socket probe(impl_->io);
      probe.open(c->peer.protocol(), e);
      if (!e) probe.connect(c->peer, e);
      if (!e) local = probe.local_endpoint(e).address();
      if (e) return nullptr;
    }
    c->socket.open(c->peer.protocol(), e);
    // At 512000 samples/s the default buffer holds about a tenth of a second; a busy
    // machine can stall the reader longer than that. The kernel caps this at rmem_max.
    if (!e) {
      std::error_code ignored;
      c->socket.set_option(asio::socket_base::receive_buffer_size(kUdpReceiveBytes), ignored);
    }
    if (!e) c->socket.bind(asio::ip::udp::endpoint(local, 0), e);
    if (!e) c->socket.connect(c->peer, e);
    if (!e) c->socket.non_blocking(true, e);
    if (e) return nullptr;
    c->onData = std::move(onData);
    c->Read();
    c->Send(copy);
    return c;
  });
  return channel ? impl_->Add(channel) : 0;
}

int DataSockets::OpenTcp(const std::string& host, int port, int timeoutMs, std::span<const std::uint8_t> request,
                         OnData onData, OnClosed onClosed) {
  std::error_code e;
  const auto address = asio::ip::make_address(host, e);
  if (e || port <= 0 || port > 65535) return 0;
  auto c = std::make_shared<TcpChannel>(impl_->io);
  std::promise<std::error_code> done;
  auto result = done.get_future();
  auto timer = std::make_shared<asio::steady_timer>(impl_->io);
  asio::post(impl_->io, [&, c, timer] {
    timer->expires_after(std::chrono::milliseconds(std::max(timeoutMs, 1)));
    timer->async_wait([c](std::error_code te) {
      if (!te) {
        std::error_code ignored;
        c->socket.close(ignored);  // the connect gives up
      }
    });
    c->socket.async_connect({address, static_cast<unsigned short>(port)}, [&done, timer](std::error_code ce) {
      timer->cancel();
      done.set_value(ce);
    });
  });
  if (result.get()) return 0;
  std::vector<std::uint8_t> copy(request.begin(), request.end());
  c->onData = std::move(onData);
  c->onClosed = std::move(onClosed);
  impl_->OnThread([&] {
    c->Send(copy);
    std::error_code ignored;  // without it each wake-up takes one read
    c->socket.non_blocking(true, ignored);
    c->Read();
    return 0;
  });
  return impl_->Add(c);
}

bool DataSockets::Send(int handle, std::span<const std::uint8_t> bytes) {
  std::shared_ptr<Channel> channel;
  {
    std::lock_guard guard(impl_->lock);
    auto it = impl_->channels.find(handle);
    if (it == impl_->channels.end()) return false;
    channel = it->second;
  }
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  impl_->OnThread([&] {
    channel->Send(copy);
    return 0;
  });
  return true;
}

void DataSockets::Close(int handle) {
  std::shared_ptr<Channel> channel;
  {
    std::lock_guard guard(impl_->lock);
    auto it = impl_->channels.find(handle);
    if (it == impl_->channels.end()) return;
    channel = it->second;
    impl_->channels.erase(it);
  }
  impl_->OnThread([&] {
    channel->Close();
    return 0;
  });
}

void DataSockets::CloseAll() {
  std::map<int, std::shared_ptr<Channel>> all;
  {
    std::lock_guard guard(impl_->lock);
    all.swap(impl_->channels);
  }
  if (all.empty()) return;
  impl_->OnThread([&] {
    for (auto& [handle, channel] : all) channel->Close();
    return 0;
  });
}

}  // namespace hylo::platform
