#include "processing/HyloImpulse.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/Post.h"
#include "core/TextMessage.h"

namespace hylo {

std::string ImpulseEventLine(const ImpulseRecord& r) {
  const std::time_t time = r.timeStamp;
  std::tm t{};
  gmtime_r(&time, &t);
  char when[64];
  std::snprintf(when, sizeof when, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  char line[320];
  std::snprintf(line, sizeof line,
                "[%19s Impulse]: SEL=%3.2f  SPL=%3.2f  PK=%3.2f Duration=%u samples    Samples into second:%u \n", when,
                r.sel, r.spl, r.pk, static_cast<unsigned>(r.durationSamples), static_cast<unsigned>(r.blockStart));
  return line;
}

void HyloImpulse::ResetTotals() {
  cumulativeSel_ = 0;
  eventNumber_ = 0;
}

bool HyloImpulse::MeasureImpulse(ImpulseRecord& r) {
  const double sensitivity = context_.sensitivity ? context_.sensitivity() : 0;
  const std::filesystem::path folder = context_.debugFolder ? context_.debugFolder() : std::filesystem::path{};
  bins_.clear();
  if (!measure_.Measure(r, sensitivity, folder.empty() ? nullptr : &bins_)) return false;
  r.eventNumber = ++eventNumber_;
  cumulativeSel_ = AddExposure(cumulativeSel_, r.sel);
  r.cumulativeSel = cumulativeSel_;
  ++measured_;
  if (!folder.empty()) {
    // The bins of the latest impulse, for checking the band levels by hand.
    if (std::FILE* f = std::fopen((folder / "FFT_OUT.txt").c_str(), "w")) {
      std::fwrite(bins_.data(), 1, bins_.size(), f);
      std::fclose(f);
    }
  }
  return true;
}

bool HyloImpulse::Handle(MessageNode& node) {
  if (node.type == MSG_RESET_CHARTS) {
    ResetTotals();
    return context_.postDisplay && context_.postDisplay(&node) == 1;
  }
  if (node.type != MSG_IMPULSE) return false;
  auto& r = node.As<ImpulseRecord>();
  if (!MeasureImpulse(r)) return false;
  if (context_.measured) context_.measured(r);
  PostResults(node);
  return true;  // PostResults owns the node
}

void HyloImpulse::PostResults(MessageNode& node) {
  const ImpulseRecord& r = node.As<ImpulseRecord>();
  const std::string line = ImpulseEventLine(r);
  // The log's copy is made before the display owns the node.
  MessageNode* log = nodes_.AllocNode(MSG_IMPULSE, 1);
  if (log) std::memcpy(log->payload, node.payload, sizeof(ImpulseRecord));
  if (!context_.postDisplay || context_.postDisplay(&node) != 1) {
    nodes_.ReleaseNode(&node);
    if (log) nodes_.ReleaseNode(log);
    return;
  }
  if (!log) return;
  if (!context_.postLog || context_.postLog(log) != 1) {
    nodes_.ReleaseNode(log);
    return;
  }
  PostText(line);
}

void HyloImpulse::PostText(const std::string& line) {
  auto fill = [&](MessageNode& node) { FillTextMessage(node, 1, line); };
  PostTo(nodes_, context_.postLog, MSG_TEXT, fill);
  PostTo(nodes_, context_.postDisplay, MSG_TEXT, fill);
}

}  // namespace hylo
