#include "SimStreams.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "wire/Bytes.h"

namespace hylo::sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(5);
constexpr double kMaxCatchUpSeconds = 0.05;  // per tick, so a stall is caught up gradually
constexpr std::size_t kMaxQueuedBytes = 8u << 20;
constexpr double kFullScaleVolts = 2.5;

double FullScale(int gain) { return kFullScaleVolts / std::pow(10.0, gain / 20.0); }

Clock::duration Seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

}  // namespace

struct SimStreams::Client {
  explicit Client(asio::ip::tcp::socket s, SimStreamKind k) : socket(std::move(s)), kind(k) {}
  asio::ip::tcp::socket socket;
  SimStreamKind kind;
  bool active = false;
  bool started = false;  // a start request arrived at some time
  bool writing = false;
  bool closed = false;
  bool closing = false;  // closes once its queued bytes are out; takes nothing new
  std::size_t queued = 0;
  std::deque<std::vector<std::uint8_t>> out;
  std::array<std::uint8_t, 512> in{};
  std::vector<std::uint8_t> request;
  Clock::time_point connectedAt{};
  Clock::time_point startedAt{};
};

SimStreamPorts SimStreamPorts::FromPortBase(int b) {
  auto p = [b](int n) { return static_cast<std::uint16_t>(n + b); };
  return {p(51676), p(51677), p(51678), p(51679), p(51680), p(51681)};
}

SimStreams::SimStreams(asio::io_context& io, SimInstrument& instrument, asio::ip::address address, SimStreamPorts ports,
                       bool dataChannels)
    : io_(io),
      instrument_(instrument),
      address_(address),
      ports_(ports),
      tick_(io),
      statusTimer_(io),
      rebootTimer_(io),
      rng_(instrument.Options().seed * 0x2545F4914F6CDD1Dull + 7),
      dataChannels_(dataChannels) {}

SimStreams::~SimStreams() { Stop(); }

void SimStreams::Start() {
  auto openUdp = [&](UdpChannel& ch, std::uint16_t port) {
    ch.socket.emplace(io_);
    ch.socket->open(address_.is_v6() ? asio::ip::udp::v6() : asio::ip::udp::v4());
    ch.socket->set_option(asio::socket_base::reuse_address(true));
    ch.socket->set_option(asio::socket_base::send_buffer_size(1 << 21));
    ch.socket->bind({address_, port});
  };
  if (dataChannels_) {
    openUdp(udpWave_, ports_.waveUdp);
    openUdp(udpFft_, ports_.fftUdp);
  }
  const std::array<std::uint16_t, 4> tcpPorts{ports_.waveTcp, ports_.fftTcp, ports_.epochTcp, ports_.statusTcp};
  for (std::size_t i = 0; i < 4; ++i) {
    if (!dataChannels_ && static_cast<SimStreamKind>(i) != SimStreamKind::kEpoch) continue;
    auto& a = acceptors_[i].emplace(io_);
    asio::ip::tcp::endpoint ep(address_, tcpPorts[i]);
    a.open(ep.protocol());
    a.set_option(asio::socket_base::reuse_address(true));
    a.bind(ep);
    a.listen();
  }
  ResetGenerators();
  ReceiveUdp(SimStreamKind::kWave);
  ReceiveUdp(SimStreamKind::kFft);
  for (int k = 0; k < 4; ++k) Accept(static_cast<SimStreamKind>(k));
  ScheduleTick();
  ScheduleStatus();
}

// The connections close once their notices are out (the caller keeps the io_context running
// briefly); the sockets go with this object at the latest.
void SimStreams::Stop() {
  if (stopped_) return;
  EndConnections(kConnectionStopped);
  stopped_ = true;
  tick_.cancel();
  statusTimer_.cancel();
  rebootTimer_.cancel();
  asio::error_code ec;
  for (auto* ch : {&udpWave_, &udpFft_})
    if (ch->socket) ch->socket->close(ec);
  for (auto& a : acceptors_)
    if (a) a->close(ec);
}

SimWaveFormat SimStreams::WaveFormat() const {
  const auto& s = instrument_.Setup();
  return {s.WaveSampleRate(), s.BytesPerSample(), s.LittleEndian(), s.Gain(), FullScale(s.Gain())};
}

SimFftFormat SimStreams::FftFormat() const {
  const auto& s = instrument_.Setup();
  const int type = s.FftType();
  SimFftFormat f;
  f.sampleRate = s.FftSampleRate();
  f.refLevel = s.FftRefLevel();
  f.fftType = static_cast<std::uint16_t>(type);
  f.fftStep = static_cast<std::uint16_t>(type <= 3 ? 1024 : s.FftStep());
  f.accumulation = static_cast<std::uint16_t>(type == 1 ? 1 : s.FftAccumulation());
  f.weight = static_cast<std::uint16_t>(s.FftWeight());
  return f;
}

void SimStreams::ResetGenerators() {
  const auto& o = instrument_.Options();
  const auto wf = WaveFormat();
  wave_.rate = std::max<std::uint32_t>(1, wf.sampleRate);
  wave_.scene.emplace(o, wave_.rate);
  wave_.running = false;
  const auto ff = FftFormat();
  fft_.rate = std::max<std::uint32_t>(1, ff.sampleRate);
  fft_.scene.emplace(o, fft_.rate);
  fft_.spectrum.emplace(ff.fftType, ff.fftStep, ff.accumulation, ff.weight, wf.fullScaleVolts);
  fft_.running = false;
}

void SimStreams::SetupChanged() {
  ResetGenerators();
  for (auto kind : {SimStreamKind::kWave, SimStreamKind::kFft})
    if (HasConsumers(kind)) Publish(kind, Description(kind));
}

std::vector<std::uint8_t> SimStreams::Description(SimStreamKind kind) const {
  const auto& g = kind == SimStreamKind::kWave ? wave_ : fft_;
  const auto t = TimeOfSample(g.t0 ? g.t0 : instrument_.Now(), g.scene ? g.scene->SampleIndex() : 0, g.rate);
  return kind == SimStreamKind::kWave ? SimStreamMessages::WaveDescription(instrument_.Options(), WaveFormat(), t)
                                      : SimStreamMessages::FftDescription(instrument_.Options(), FftFormat(), t);
}

bool SimStreams::HasConsumers(SimStreamKind kind) const {
  if (kind == SimStreamKind::kWave && udpWave_.peer) return true;
  if (kind == SimStreamKind::kFft && udpFft_.peer) return true;
  return std::any_of(clients_.begin(), clients_.end(),
                     [kind](const auto& c) { return c->kind == kind && c->active && !c->closed; });
}

void SimStreams::ReceiveUdp(SimStreamKind kind) {
  auto& ch = kind == SimStreamKind::kWave ? udpWave_ : udpFft_;
  if (!ch.socket) return;
  ch.socket->async_receive_from(asio::buffer(ch.in), ch.from,
                                [this, kind, &ch](const asio::error_code& ec, std::size_t n) {
                                  if (ec == asio::error::operation_aborted || stopped_) return;
                                  if (!ec)
                                    OnRequest(kind, std::span<const std::uint8_t>(ch.in.data(), n), nullptr, ch.from);
                                  ReceiveUdp(kind);
                                });
}

// Start "3*" len=4 then 4 bytes; stop "4*" len=0. Anything else is ignored.
void SimStreams::OnRequest(SimStreamKind kind, std::span<const std::uint8_t> bytes,
                           const std::shared_ptr<Client>& client, const std::optional<asio::ip::udp::endpoint>& from) {
  std::vector<std::uint8_t> local;
  std::vector<std::uint8_t>& buf = client ? client->request : local;
  buf.insert(buf.end(), bytes.begin(), bytes.end());
  while (buf.size() >= 4) {
    if (!((buf[0] == '3' || buf[0] == '4') && buf[1] == '*')) {
      buf.erase(buf.begin());
      continue;
    }
    const std::size_t len = hylo::bytes::GetU16BE(buf, 2);
    if (len > 16) {
      buf.erase(buf.begin());
      continue;
    }
    if (buf.size() < 4 + len) break;
    const bool start = buf[0] == '3';
    const std::vector<std::uint8_t> msg(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(4 + len));
    buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(4 + len));
    if (start && len != 4) continue;
    if (kind == SimStreamKind::kEpoch) continue;  // the epoch channel only carries texts out
    if (client && client->closing) continue;
    if (kind == SimStreamKind::kStatus) {
      if (client) client->active = start;
      if (client && start) {
        client->started = true;
        client->startedAt = Clock::now();
        SendClient(client, msg);  // echo of the start request
        SendClient(client, SimStreamMessages::StatusRecords(instrument_.Options(), instrument_.Now()));
      }
      continue;
    }
    const char* name = kind == SimStreamKind::kWave ? "wave" : "fft";
    if (start) instrument_.LogCommand(std::string(name) + (client ? " tcp start" : " udp start"));
    if (start) ArmReboot();
    if (client) {
      client->active = start;
      if (start) {
        client->started = true;
        client->startedAt = Clock::now();
        SendClient(client, msg);
        SendClient(client, Description(kind));
      }
    } else if (from) {
      auto& ch = kind == SimStreamKind::kWave ? udpWave_ : udpFft_;
      if (start) {
        ch.peer = *from;  // only ever the peer that asked
        ch.startedAt = Clock::now();
        asio::error_code ec;
        ch.socket->send_to(asio::buffer(msg), *from, 0, ec);
        const auto d = Description(kind);
        ch.socket->send_to(asio::buffer(d), *from, 0, ec);
      } else if (ch.peer && *ch.peer == *from) {
        ch.peer.reset();
      }
    }
  }
}

void SimStreams::Accept(SimStreamKind kind) {
  auto& a = acceptors_[static_cast<std::size_t>(kind)];
  if (!a) return;
  a->async_accept([this, kind](const asio::error_code& ec, asio::ip::tcp::socket s) {
    if (ec == asio::error::operation_aborted || stopped_) return;
    if (!ec) {
      asio::error_code e2;
      s.set_option(asio::ip::tcp::no_delay(true), e2);
      auto c = std::make_shared<Client>(std::move(s), kind);
      c->connectedAt = Clock::now();
      if (kind == SimStreamKind::kEpoch) {
        c->active = true;  // the epoch channel needs no start request
        c->started = true;
        c->startedAt = c->connectedAt;
      }
      const auto same = std::count_if(clients_.begin(), clients_.end(),
                                      [kind](const auto& x) { return x->kind == kind && !x->closing; });
      clients_.push_back(c);
      ReadClient(c);
      if (static_cast<std::size_t>(same) >= kMaxClientsPerChannel) {
        c->active = false;
        // The epoch channel carries only texts, so a refused epoch client is just closed.
        if (kind == SimStreamKind::kEpoch) {
          DropClient(c);
        } else {
          NoticeAndClose(c, kNoFreeConnections);
        }
      }
    }
    Accept(kind);
  });
}

void SimStreams::ReadClient(const std::shared_ptr<Client>& c) {
  c->socket.async_read_some(asio::buffer(c->in), [this, c](const asio::error_code& ec, std::size_t n) {
    if (c->closed || stopped_) return;
    if (ec) {
      DropClient(c);
      return;
    }
    OnRequest(c->kind, std::span<const std::uint8_t>(c->in.data(), n), c, std::nullopt);
    ReadClient(c);
  });
}

void SimStreams::SendClient(const std::shared_ptr<Client>& c, std::vector<std::uint8_t> bytes) {
  if (c->closed || c->closing) return;
  if (c->queued + bytes.size() > kMaxQueuedBytes) return;  // a slow reader loses data, as on the wire
  c->queued += bytes.size();
  c->out.push_back(std::move(bytes));
  FlushClient(c);
}

void SimStreams::FlushClient(const std::shared_ptr<Client>& c) {
  if (c->closed || c->writing) return;
  if (c->out.empty()) {
    if (c->closing) DropClient(c);
    return;
  }
  c->writing = true;
  asio::async_write(c->socket, asio::buffer(c->out.front()), [this, c](const asio::error_code& ec, std::size_t) {
    c->writing = false;
    if (c->closed) return;
    if (ec) {
      DropClient(c);
      return;
    }
    c->queued -= c->out.front().size();
    c->out.pop_front();
    FlushClient(c);
  });
}

void SimStreams::DropClient(const std::shared_ptr<Client>& c) {
  c->closed = true;
  asio::error_code ec;
  c->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  c->socket.close(ec);
  std::erase(clients_, c);
}

void SimStreams::CloseAfterFlush(const std::shared_ptr<Client>& c) {
  c->active = false;
  c->closing = true;
  FlushClient(c);
}

void SimStreams::NoticeAndClose(const std::shared_ptr<Client>& c, SimNotice code) {
  if (c->closed || c->closing) return;
  SendClient(c, SimStreamMessages::Notice(code));
  CloseAfterFlush(c);
}

// A UDP stream has no connection to close: the peer gets the notice and no more data.
void SimStreams::NoticeUdp(UdpChannel& ch, SimNotice code) {
  if (!ch.peer || !ch.socket) return;
  FlushHeld(ch);
  const auto m = SimStreamMessages::Notice(code);
  asio::error_code ec;
  ch.socket->send_to(asio::buffer(m), *ch.peer, 0, ec);
  ch.peer.reset();
}

void SimStreams::EndConnections(SimNotice code) {
  if (stopped_) return;
  NoticeUdp(udpWave_, code);
  NoticeUdp(udpFft_, code);
  for (auto& c : std::vector(clients_)) {
    if (c->kind == SimStreamKind::kEpoch) {
      CloseAfterFlush(c);  // texts already queued still go out
    } else {
      NoticeAndClose(c, code);
    }
  }
  wave_.running = false;
  fft_.running = false;
}

bool SimStreams::Chance(double share) {
  if (share <= 0) return false;
  rng_ ^= rng_ << 13;
  rng_ ^= rng_ >> 7;
  rng_ ^= rng_ << 17;
  return static_cast<double>(rng_ >> 11) / 9007199254740992.0 < share;
}

void SimStreams::SendDatagram(UdpChannel& ch, const std::vector<std::uint8_t>& m) {
  asio::error_code ec;
  ch.socket->send_to(asio::buffer(m), *ch.peer, 0, ec);
}

// A datagram still held when its stream ends goes out before the end, in its place.
void SimStreams::FlushHeld(UdpChannel& ch) {
  if (ch.held && ch.peer && ch.socket) SendDatagram(ch, *ch.held);
  ch.held.reset();
}

void SimStreams::SendUdp(SimStreamKind kind, const std::vector<std::uint8_t>& m, std::uint64_t first,
                         std::size_t count) {
  auto& ch = kind == SimStreamKind::kWave ? udpWave_ : udpFft_;
  if (!ch.peer || !ch.socket) return;
  const auto& o = instrument_.Options();
  if (Chance(o.dropUdp)) {
    ++udpDropped_;
    LogFault(kind, "lost", first, count);
    return;
  }
  if (!ch.held && Chance(o.reorderUdp)) {
    ch.held = m;
    ch.heldFirst = first;
    ch.heldCount = count;
    return;
  }
  SendDatagram(ch, m);
  if (Chance(o.duplicateUdp)) {
    SendDatagram(ch, m);
    LogFault(kind, "duplicated", first, count);
  }
  if (ch.held) {
    SendDatagram(ch, *ch.held);
    LogFault(kind, "reordered", ch.heldFirst, ch.heldCount);
    ch.held.reset();
  }
}

void SimStreams::Publish(SimStreamKind kind, const std::vector<std::uint8_t>& m) {
  if (kind == SimStreamKind::kWave || kind == SimStreamKind::kFft) {
    auto& ch = kind == SimStreamKind::kWave ? udpWave_ : udpFft_;
    FlushHeld(ch);  // a description or notice never overtakes data sent before it
    if (ch.peer && ch.socket) SendDatagram(ch, m);
  }
  for (auto& c : std::vector(clients_))
    if (c->kind == kind && c->active) SendClient(c, m);
}

void SimStreams::PublishData(SimStreamKind kind, std::vector<std::uint8_t> m, std::uint64_t first, std::size_t count) {
  if (Chance(instrument_.Options().corruptStream)) {
    Corrupt(kind, m);
    LogFault(kind, "corrupt", first, count);
  }
  if (kind == SimStreamKind::kWave || kind == SimStreamKind::kFft) SendUdp(kind, m, first, count);
  for (auto& c : std::vector(clients_))
    if (c->kind == kind && c->active) SendClient(c, m);
}

// Flips one byte a receiver can check: the "*", the length, a block's format byte, the
// channel count, the sample format or the high byte of the sample count. A flipped sample,
// time or counter byte cannot be told from data by anyone, so it is never played.
void SimStreams::Corrupt(SimStreamKind kind, std::vector<std::uint8_t>& m) {
  static constexpr std::array<std::size_t, 8> kWave{1, 2, 3, 5, 21, 28, 29, 30};
  static constexpr std::array<std::size_t, 7> kFft{1, 2, 3, 5, 21, 28, 30};
  static constexpr std::array<std::size_t, 2> kStatus{1, 5};
  const auto pick = [&](std::span<const std::size_t> offsets) {
    rng_ ^= rng_ << 13;
    rng_ ^= rng_ >> 7;
    rng_ ^= rng_ << 17;
    return offsets[(rng_ >> 17) % offsets.size()];
  };
  const std::size_t at = kind == SimStreamKind::kWave  ? pick(kWave)
                         : kind == SimStreamKind::kFft ? pick(kFft)
                                                       : pick(kStatus);
  if (at < m.size()) m[at] ^= 0xFF;
}

// One line per fault done to a data message, so a test knows exactly what arrived intact.
void SimStreams::LogFault(SimStreamKind kind, const char* what, std::uint64_t first, std::size_t count) {
  const std::string& path = instrument_.Options().dropLog;
  if (path.empty()) return;
  const char* name = kind == SimStreamKind::kWave ? "wave" : kind == SimStreamKind::kFft ? "fft" : "status";
  if (std::FILE* f = std::fopen(path.c_str(), "a")) {
    std::fprintf(f, "%s %s %llu %zu\n", name, what, static_cast<unsigned long long>(first), count);
    std::fclose(f);
  }
}

void SimStreams::ArmReboot() {
  const double after = instrument_.Options().rebootAfter;
  if (after <= 0 || rebootArmed_) return;
  rebootArmed_ = true;
  rebootTimer_.expires_after(Seconds(after));
  rebootTimer_.async_wait([this](const asio::error_code& ec) {
    if (ec || stopped_) return;
    instrument_.LogCommand("reboot");
    if (rebootHook_) rebootHook_();
  });
}

void SimStreams::StopAll() {
  FlushHeld(udpWave_);
  FlushHeld(udpFft_);
  udpWave_.peer.reset();
  udpFft_.peer.reset();
  for (auto& c : std::vector(clients_)) {
    if (c->kind == SimStreamKind::kEpoch) continue;
    if (c->active) SendClient(c, SimStreamMessages::Stopped());
    c->active = false;
  }
  wave_.running = false;
  fft_.running = false;
}

void SimStreams::ScheduleTick() {
  tick_.expires_after(kTick);
  tick_.async_wait([this](const asio::error_code& ec) {
    if (ec || stopped_) return;
    Tick();
    ScheduleTick();
  });
}

void SimStreams::ScheduleStatus() {
  statusTimer_.expires_after(std::chrono::seconds(1));
  statusTimer_.async_wait([this](const asio::error_code& ec) {
    if (ec || stopped_) return;
    if (HasConsumers(SimStreamKind::kStatus))
      PublishData(SimStreamKind::kStatus, SimStreamMessages::StatusRecords(instrument_.Options(), instrument_.Now()), 0,
                  0);
    ScheduleStatus();
  });
}

// The instrument's own time limits: a TCP data connection must ask for its stream within the
// start time-out, and a stream ends at the stream time limit (both "timed out"); with
// --stop-streams-after the instrument stops each stream by itself ("stopped").
void SimStreams::ExpireStreams(Clock::time_point now) {
  const auto& o = instrument_.Options();
  const bool limited = o.streamLimit > 0;
  const bool stopping = o.stopStreamsAfter > 0;
  const auto limit = Seconds(o.streamLimit);
  const auto stopAfter = Seconds(o.stopStreamsAfter);
  for (auto* ch : {&udpWave_, &udpFft_}) {
    if (!ch->peer) continue;
    if (stopping && now - ch->startedAt >= stopAfter) {
      NoticeUdp(*ch, kConnectionStopped);
    } else if (limited && now - ch->startedAt >= limit) {
      NoticeUdp(*ch, kConnectionTimedOut);
    }
  }
  for (auto& c : std::vector(clients_)) {
    if (c->kind == SimStreamKind::kEpoch || c->closing || c->closed) continue;
    if (c->active && stopping && now - c->startedAt >= stopAfter) {
      NoticeAndClose(c, kConnectionStopped);
    } else if (c->active && limited && now - c->startedAt >= limit) {
      NoticeAndClose(c, kConnectionTimedOut);
    } else if (!c->started && o.startTimeout > 0 && now - c->connectedAt >= Seconds(o.startTimeout)) {
      NoticeAndClose(c, kConnectionTimedOut);
    }
  }
}

void SimStreams::Tick() {
  const auto now = Clock::now();
  ExpireStreams(now);
  RunWave(now);
  RunFft(now);
}

void SimStreams::RunWave(Clock::time_point now) {
  if (!HasConsumers(SimStreamKind::kWave)) {
    wave_.running = false;
    return;
  }
  if (!wave_.running) {
    wave_.running = true;
    wave_.paceStart = now;
    wave_.paced = 0;
    if (wave_.t0 == 0)
      wave_.t0 = instrument_.Now() - static_cast<std::uint32_t>(wave_.scene->SampleIndex() / wave_.rate);
  }
  const double elapsed = std::chrono::duration<double>(now - wave_.paceStart).count();
  const auto target = static_cast<std::uint64_t>(elapsed * wave_.rate);
  std::uint64_t need = target > wave_.paced ? target - wave_.paced : 0;
  need = std::min<std::uint64_t>(need, static_cast<std::uint64_t>(kMaxCatchUpSeconds * wave_.rate) + 1);
  const auto f = WaveFormat();
  const std::size_t per = SimStreamMessages::SamplesPerMessage(f.bytesPerSample);
  std::vector<double> chunk;
  while (need > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(need, per));
    chunk.resize(n);
    const std::uint64_t first = wave_.scene->SampleIndex();
    const auto t = TimeOfSample(wave_.t0, first, wave_.rate);
    wave_.scene->Next(chunk);
    PublishData(SimStreamKind::kWave, SimStreamMessages::WaveData(f, t, chunk), first, n);
    wave_.paced += n;
    wave_.sent += n;
    need -= n;
    const int every = instrument_.Options().badDescriptionsEvery;
    if (every > 0 && ++wave_.messages % static_cast<std::uint64_t>(every) == 0) {
      // Each unusable description comes with data, as a faulty unit would send it; the
      // good description follows, then the data go on.
      for (int kind = 0; kind < SimStreamMessages::kBadDescriptionKinds; ++kind) {
        const std::uint64_t at = wave_.scene->SampleIndex();
        const auto when = TimeOfSample(wave_.t0, at, wave_.rate);
        Publish(SimStreamKind::kWave, SimStreamMessages::BadWaveDescription(instrument_.Options(), f, when, kind));
        chunk.resize(per);
        wave_.scene->Next(chunk);
        PublishData(SimStreamKind::kWave, SimStreamMessages::WaveData(f, when, chunk), at, per);
        wave_.paced += per;
        wave_.sent += per;
        need -= std::min<std::uint64_t>(need, per);
      }
      Publish(SimStreamKind::kWave, Description(SimStreamKind::kWave));
    }
  }
}

void SimStreams::RunFft(Clock::time_point now) {
  const bool epochs =
      !instrument_.EpochTriggers().empty() && std::any_of(clients_.begin(), clients_.end(), [](const auto& c) {
        return c->kind == SimStreamKind::kEpoch && c->active && !c->closing && !c->closed;
      });
  if (!HasConsumers(SimStreamKind::kFft) && !epochs) {
    fft_.running = false;
    return;
  }
  if (!fft_.running) {
    fft_.running = true;
    fft_.paceStart = now;
    fft_.paced = 0;
    if (fft_.t0 == 0) fft_.t0 = instrument_.Now() - static_cast<std::uint32_t>(fft_.scene->SampleIndex() / fft_.rate);
  }
  const double elapsed = std::chrono::duration<double>(now - fft_.paceStart).count();
  const auto target = static_cast<std::uint64_t>(elapsed * fft_.rate);
  std::uint64_t need = target > fft_.paced ? target - fft_.paced : 0;
  need = std::min<std::uint64_t>(need, static_cast<std::uint64_t>(kMaxCatchUpSeconds * fft_.rate) + 1);
  const auto ff = FftFormat();
  std::vector<double> chunk;
  std::vector<SimSpectrumRecord> records;
  while (need > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(need, 4096));
    chunk.resize(n);
    fft_.scene->Next(chunk);
    fft_.spectrum->Push(chunk, records);
    fft_.paced += n;
    need -= n;
  }
  for (const auto& r : records) {
    std::array<std::uint8_t, 512> bins{};
    for (std::size_t k = 0; k < 512; ++k) bins[k] = SimSpectrum::WireByte(r.dbv[k], ff.refLevel);
    if (HasConsumers(SimStreamKind::kFft))
      PublishData(SimStreamKind::kFft,
                  SimStreamMessages::FftData(TimeOfSample(fft_.t0, r.firstSample, fft_.rate), bins), r.firstSample, 1);
    ++fft_.sent;
    if (epochs) CheckEpochs(r);
  }
}

void SimStreams::SendEpochText(const std::string& text) {
  std::vector<std::uint8_t> m(text.begin(), text.end());
  m.push_back(0);  // every event text ends with a NUL
  for (auto& c : std::vector(clients_))
    if (c->kind == SimStreamKind::kEpoch && c->active) SendClient(c, m);
}

// A trigger fires when the strongest bin of its band stays at or above the threshold for its
// duration; it reports once per event, and the event lasts while the signal is there and for
// the extension after it. HF-family records count seconds and compare dB re 1 uPa (or dBV);
// LF records count spectra and compare the threshold code, half-dB steps above -120 dBV at
// the converter (after the gain).
void SimStreams::CheckEpochs(const SimSpectrumRecord& r) {
  using hylo::bytes::GetU16LE;
  using hylo::bytes::GetU32LE;
  const auto& triggers = instrument_.EpochTriggers();
  if (instrument_.TriggerGeneration() != epochGeneration_) {
    epochGeneration_ = instrument_.TriggerGeneration();
    epochs_ = {};
  }
  const auto ff = FftFormat();
  const double rate = std::max<std::uint32_t>(1, ff.sampleRate);
  const double recordSeconds = static_cast<double>(ff.fftStep) * std::max<int>(1, ff.accumulation) / rate;
  const double binHz = rate / 1024.0;
  const double sensitivity = instrument_.Options().sensitivityTenths / 10.0;
  const int gain = instrument_.Setup().Gain();
  for (std::size_t i = 0; i < triggers.size() && i < epochs_.size(); ++i) {
    const std::span<const std::uint8_t> rec = triggers[i].record;
    auto& st = epochs_[i];
    const bool lf = rec.size() == 16;
    if (!lf && (rec.size() != 24 || rec[3] == 0)) continue;  // HF-family: only enabled triggers
    std::size_t b0 = 0, b1 = 0;
    if (lf) {
      b0 = GetU16LE(rec, 6);
      b1 = GetU16LE(rec, 8);
    } else {
      b0 = static_cast<std::size_t>(GetU32LE(rec, 8) / binHz);
      b1 = static_cast<std::size_t>(GetU32LE(rec, 12) / binHz);
    }
    b0 = std::min<std::size_t>(511, b0);
    b1 = std::min<std::size_t>(511, std::max(b0, b1));
    double peak = -400;
    for (std::size_t k = b0; k <= b1; ++k) peak = std::max(peak, r.dbv[k]);
    const double levelUpa = peak - sensitivity;
    bool above = false;
    double need = 0, extend = 0;
    if (lf) {
      const double code = 2.0 * (peak + gain + 120.0);
      above = code >= static_cast<double>(GetU32LE(rec, 12));
      need = std::max<int>(1, GetU16LE(rec, 2)) * recordSeconds;
      extend = GetU16LE(rec, 4) * recordSeconds;
    } else {
      const auto threshold = static_cast<std::int16_t>(GetU16LE(rec, 18));
      const bool inDbv = GetU16LE(rec, 16) == 1;
      above = (inDbv ? peak : levelUpa) >= threshold;
      need = std::max<double>(recordSeconds, GetU16LE(rec, 4));
      extend = GetU16LE(rec, 6);
    }
    if (above) {
      st.aboveSeconds += recordSeconds;
      st.holdSeconds = extend;
    } else {
      st.aboveSeconds = 0;
      st.holdSeconds -= recordSeconds;
      if (st.holdSeconds < 0) st.firing = false;
    }
    if (!above || st.firing || st.aboveSeconds + 1e-9 < need) continue;
    st.firing = true;
    const bool report = lf || (GetU16LE(rec, 20) & 0x20) != 0;
    if (!report) continue;
    const auto loHz = static_cast<unsigned>(lf ? b0 * binHz : GetU32LE(rec, 8));
    const auto hiHz = static_cast<unsigned>(lf ? b1 * binHz : GetU32LE(rec, 12));
    char text[160];
    const int n = std::snprintf(text, sizeof text, "Epoch Trigger %zu fired at %u: %u-%u Hz, %.1f dB re 1uPa", i + 1,
                                instrument_.Now(), loHz, hiHz, levelUpa);
    SendEpochText(std::string(text, static_cast<std::size_t>(std::clamp<int>(n, 0, sizeof text - 1))));
  }
}

}  // namespace hylo::sim
