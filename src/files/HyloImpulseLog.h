#pragma once
// The impulse log's header and lines.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/HyloNodes.h"
#include "files/HyloWav.h"
#include "processing/ImpulseRecord.h"

namespace hylo {

struct LoggingSettings;

// The header block of an impulse log, column header line included.
std::string ImpulseLogHeader(const ImpulseRecord& first, const WavHeaderInfo& info, const LoggingSettings& settings);
std::string ImpulseLogLine(const ImpulseRecord& record, std::string_view comment);

}  // namespace hylo
