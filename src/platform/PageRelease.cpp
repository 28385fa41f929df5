#include "platform/PageRelease.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace hylo::platform {

void ReleaseWholePages(void* begin, std::size_t bytes) {
  static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto from = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t first = (from + page - 1) / page * page;
  const std::uintptr_t end = (from + bytes) / page * page;
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

}  // namespace hylo::platform
