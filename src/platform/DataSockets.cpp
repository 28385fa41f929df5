#include "platform/DataSockets.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <asio.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace hylo::platform {
namespace {
constexpr std::size_t kReadBytes = 1460;
constexpr int kUdpReceiveBytes = 8 << 20;
constexpr std::size_t kBatchReads = 32;
// How long a UDP stream's datagrams gather before they are taken (at 512000 samples/s about
// ten datagrams; far below what a display or a log notices), and how many batches of
// kBatchReads one wake-up takes at most.
constexpr auto kUdpGather = std::chrono::milliseconds(10);
constexpr int kUdpPasses = 8;

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

// A UDP stream has a reader thread of its own and stays out of the socket thread's event
// loop, which would wake for every datagram: it waits for the first datagram, lets a few
// milliseconds' worth gather, takes them all with one call, and waits again only once the
// socket is empty. The stages behind wake once per batch, not once per datagram.
struct UdpChannel final : Channel {
  int fd = -1;
  int wake = -1;  // an eventfd: the close
  asio::ip::udp::endpoint peer;
  DataSockets::OnData onData;
  std::thread reader;
  std::array<std::array<std::uint8_t, kReadBytes>, kBatchReads> buffers{};

  ~UdpChannel() override { Close(); }
  bool Open(const asio::ip::udp::endpoint& local) {
    fd = ::socket(peer.protocol().family(), SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0 || wake < 0) return false;
    // At 512000 samples/s the default buffer holds about a tenth of a second; a busy
    // machine can stall the reader longer than that. The kernel caps this at rmem_max.
    const int size = kUdpReceiveBytes;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    // Bound to the local address that faces the instrument (not every interface) and
    // connected to its port, so the kernel drops datagrams from anyone else.
    return ::bind(fd, local.data(), static_cast<socklen_t>(local.size())) == 0 &&
           ::connect(fd, peer.data(), static_cast<socklen_t>(peer.size())) == 0;
  }
  void Start() {
    reader = std::thread([this] { Run(); });
  }
  void Run() {
    for (;;) {
      std::array<pollfd, 2> wait{pollfd{fd, POLLIN, 0}, pollfd{wake, POLLIN, 0}};
      if (::poll(wait.data(), wait.size(), -1) < 0 && errno != EINTR) return;
      if (wait[1].revents != 0) return;
      // Streaming: gather, take, until a pass finds the socket empty.
      for (;;) {
        pollfd closing{wake, POLLIN, 0};
        if (::poll(&closing, 1, static_cast<int>(kUdpGather.count())) > 0) return;
        if (TakeWaiting() == 0) break;
      }
    }
  }
  // Reads taken; bounded, so a flood still lets a close through.
  std::size_t TakeWaiting() {
    std::size_t total = 0;
    for (int pass = 0; pass < kUdpPasses; ++pass) {
      std::array<mmsghdr, kBatchReads> messages{};
      std::array<iovec, kBatchReads> vectors{};
      std::array<sockaddr_storage, kBatchReads> senders{};
      for (std::size_t i = 0; i < kBatchReads; ++i) {
        vectors[i] = {buffers[i].data(), kReadBytes};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_namelen = sizeof senders[i];
      }
      const int got = ::recvmmsg(fd, messages.data(), kBatchReads, MSG_DONTWAIT, nullptr);
      // A connected UDP socket reports an ICMP "port unreachable" on the next read (the
      // unit not yet listening): read on.
      if (got < 0 && errno == ECONNREFUSED) continue;
      if (got <= 0) break;
      std::array<std::span<const std::uint8_t>, kBatchReads> reads{};
      std::size_t kept = 0;
      for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
        const msghdr& header = messages[i].msg_hdr;
        // Only the instrument's stream port may feed this stream (the connected socket
        // filters too; this holds where it does not).
        bool fromPeer = header.msg_namelen <= peer.capacity();
        if (fromPeer) {
          asio::ip::udp::endpoint sender;
          std::memcpy(sender.data(), header.msg_name, header.msg_namelen);
          sender.resize(header.msg_namelen);
          fromPeer = sender == peer;
        }
        if (fromPeer && messages[i].msg_len > 0) reads[kept++] = {buffers[i].data(), messages[i].msg_len};
      }
      total += static_cast<std::size_t>(got);
      if (kept > 0) onData({reads.data(), kept});
      if (static_cast<std::size_t>(got) < kBatchReads) break;
    }
    return total;
  }
  void Send(std::span<const std::uint8_t> bytes) override {
    if (fd >= 0) (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  void Close() override {
    if (reader.joinable()) {
      const std::uint64_t one = 1;
      (void)::write(wake, &one, sizeof one);
      reader.join();
    }
    if (fd >= 0) ::close(fd);
    if (wake >= 0) ::close(wake);
    fd = wake = -1;
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
  std::error_code e;
  const auto address = asio::ip::make_address(host, e);
  if (e || port <= 0 || port > 65535) return 0;
  auto c = std::make_shared<UdpChannel>();
  c->peer = asio::ip::udp::endpoint(address, static_cast<unsigned short>(port));
  // The local address that faces the instrument: what a connected socket is given.
  asio::ip::address local;
  {
    asio::ip::udp::socket probe(impl_->io);
    probe.open(c->peer.protocol(), e);
    if (!e) probe.connect(c->peer, e);
    if (!e) local = probe.local_endpoint(e).address();
    if (e) return 0;
  }
  if (!c->Open(asio::ip::udp::endpoint(local, 0))) return 0;
  c->onData = std::move(onData);
  c->Start();
  c->Send(request);
  return impl_->Add(c);
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
