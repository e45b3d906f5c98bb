// Bytes the process holds on the C heap, now and at the most since the last ResetPeak. Counts
// every malloc of the process, giflib's and the platform's included, so that a benchmark can
// measure what one call allocates. Linked into a benchmark, it replaces the C allocator's entry
// points for the whole program.
#pragma once

#include <cstddef>

namespace heap_meter {

size_t Current();
size_t Peak();
// The peak starts again from what is held now.
void ResetPeak();

}  // namespace heap_meter
