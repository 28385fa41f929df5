#include "files/WavAudioOut.h"

#include <string_view>

namespace hylo {
namespace {

constexpr std::uint32_t kMaxData = 0xFFFFFFFFU - 36;

void Put(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> PcmWavHeader(int rate, std::uint32_t dataBytes) {
  std::vector<std::uint8_t> h(44, 0);
  const std::string_view tags = "RIFF....WAVEfmt ";
  for (std::size_t i = 0; i < tags.size(); ++i) h[i] = static_cast<std::uint8_t>(tags[i]);
  Put(h, 4, 36 + dataBytes, 4);
  Put(h, 16, 16, 4);  // fmt chunk size
  Put(h, 20, 1, 2);   // PCM
  Put(h, 22, 1, 2);   // mono
  Put(h, 24, static_cast<std::uint32_t>(rate), 4);
  Put(h, 28, static_cast<std::uint32_t>(rate) * 2, 4);
  Put(h, 32, 2, 2);   // block align
  Put(h, 34, 16, 2);  // bits
  h[36] = 'd';
  h[37] = 'a';
  h[38] = 't';
  h[39] = 'a';
  Put(h, 40, dataBytes, 4);
  return h;
}

std::filesystem::path WavAudioOut::NextPath() const {
  std::lock_guard guard(log_->lock);
  if (log_->files.empty()) return path_;
  const auto n = log_->files.size() + 1;
  return path_.parent_path() / (path_.stem().string() + "_" + std::to_string(n) + path_.extension().string());
}

std::string WavAudioOut::Open(int sampleRate) {
  if (file_.IsOpen() && sampleRate == rate_) return {};  // the same stream goes on
  file_.Close();
  const std::filesystem::path path = NextPath();
  int error = 0;
  file_ = platform::LogFile::OpenForAppend(path, true, error);
  if (!file_.IsOpen()) return "cannot write " + path.string() + ": " + platform::ErrorText(error);
  rate_ = sampleRate;
  dataBytes_ = 0;
  const auto header = PcmWavHeader(rate_, 0);
  if (file_.Write(header).error != 0) return "cannot write " + path.string();
  std::lock_guard guard(log_->lock);
  log_->files.push_back(path);
  return {};
}

std::string WavAudioOut::Play(std::span<const std::int16_t> samples) {
  if (!file_.IsOpen()) return "not open";
  if (dataBytes_ + samples.size() * 2 > kMaxData) return "the audio file is full";
  std::vector<std::uint8_t> bytes;
  bytes.reserve(samples.size() * 2);
  for (std::int16_t s : samples) {
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s)));
    bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
  }
  const platform::WriteResult w = file_.Write(bytes);
  dataBytes_ += static_cast<std::uint32_t>(w.written - w.written % 2);
  // The header always tells the samples on disk, so a killed run leaves a playable file.
  const auto header = PcmWavHeader(rate_, dataBytes_);
  const platform::WriteResult h = file_.WriteAt(0, header);
  std::lock_guard guard(log_->lock);
  log_->samples += w.written / 2;
  if (w.error != 0 || h.error != 0) {
    const std::string reason = platform::ErrorText(w.error != 0 ? w.error : h.error);
    if (log_->error.empty()) log_->error = reason;
    return reason;
  }
  return {};
}

// The file stays open: a restart at the same rate (the next file of a replay) continues it,
// and the header is right after every buffer.
void WavAudioOut::Close() {}

}  // namespace hylo
