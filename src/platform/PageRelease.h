#pragma once
// Gives memory pages back to the operating system without unmapping them: the range stays
// valid, reads as zero afterwards, and costs resident memory again only when touched.
#include <cstddef>

namespace hylo::platform {

// Only the whole pages inside [begin, begin + bytes) are given back; the partial pages at
// either end stay, since they may hold a neighbour's bytes.
void ReleaseWholePages(void* begin, std::size_t bytes);

}  // namespace hylo::platform
