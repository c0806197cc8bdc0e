// A hint for the large arrays of meshes and indexes, given before their
// first write.
#pragma once

#include <cstddef>

// Large arrays spend much of their filling time on the first write to each
// page (a fault per 4 KiB page, and on virtual machines with shadow paging
// each fault costs microseconds). Transparent huge pages cut the faults
// 512-fold. Only a hint: where THP is unavailable nothing changes.
void adviseHugePages(const void* data, std::size_t bytes);
