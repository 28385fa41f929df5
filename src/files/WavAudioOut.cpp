#include "files/WavAudioOut.h"

namespace hylo {
namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutTag(std::vector<std::uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

constexpr std::uint32_t kMaxData = 0xFFFFFFFFU - 36;

}  // namespace

std::vector<std::uint8_t> PcmWavHeader(int rate, std::uint32_t dataBytes) {
  std::vector<std::uint8_t> h;
  PutTag(h, "RIFF");
  Put32(h, 36 + dataBytes);
  PutTag(h, "WAVE");
  PutTag(h, "fmt ");
  Put32(h, 16);
  Put16(h, 1);  // PCM
  Put16(h, 1);  // mono
  Put32(h, static_cast<std::uint32_t>(rate));
  Put32(h, static_cast<std::uint32_t>(rate) * 2);
  Put16(h, 2);
  Put16(h, 16);
  PutTag(h, "data");
  Put32(h, dataBytes);
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
  for (std::int16_t s : samples) Put16(bytes, static_cast<std::uint16_t>(s));
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
