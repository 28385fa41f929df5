// Arbitrary bytes as an "R" reply (walked into a trigger list and shown on the epoch tab),
// to the epoch channel's text cutter, and as a trigger file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "FileFuzz.h"
#include "config/HostEpoch.h"
#include "config/HyloEpoch.h"
#include "files/TriggerFile.h"
#include "stream/EpochChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace hylo;
  using namespace hylo::setup;
  const std::span<const std::uint8_t> bytes(data, size);
  if (bytes.empty()) return 0;

  TriggerList list{};
  if (ParseEpochList(bytes[0], bytes.subspan(1), list)) {
    for (EpochForm form : {EpochForm::kLf, EpochForm::kOlderHf, EpochForm::kNewerHf}) {
      EpochScale scale;
      scale.form = form;
      (void)ReadTriggersFromPanel(ShowTriggers(list, scale), scale);
    }
  }

  EpochTextSplitter splitter;
  std::size_t total = 0;
  splitter.Feed(bytes, [&](std::string_view text) {
    total += text.size();
    return text.size() <= EpochTextSplitter::kReadBytes;
  });

  // The file reader takes a path: one file in memory-backed storage, rewritten for every input.
  const auto path = WriteFuzzFile("triggers.cfg", data, size);
  TriggerList fromFile{};
  if (ReadTriggerFile(fromFile, path) == TriggerFileStatus::kOk) {
    // As the host's trigger list loads it: rows for its tab, and back to records.
    (void)RowsToList(ListToRows(fromFile));
  }
  return 0;
}
