// What the benchmark programs on our own library share: a clock, the median
// of repeated timings, and loading a mesh with its error on standard error.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "../tools/mesh_io.h"
#include "geometry/mesh.h"

namespace bench {

inline double seconds()
{
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

// The middle value, or the mean of the two middle ones.
inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

inline bool loadOrReport(const char* path, Mesh& mesh) { return tools::readMesh(path, mesh); }

} // namespace bench
