// The two ways meshqem compares a pair of loaded meshes. Each checks what its
// figures need, computes, reports on standard output and returns the exit
// status; messages go to standard error and name the file concerned.
#pragma once

#include "cli/options.h"
#include "geometry/mesh.h"

constexpr int kExitUnusableInput = 1;
constexpr int kExitUsage = 2;

// The nearest-plane comparison: normalises both meshes (they are changed)
// and prints the seven lines, or the JSON object with --json.
int runPlaneMode(const Options& options, Mesh& first, Mesh& second);

// The point-to-surface comparison of the meshes as loaded (--surface).
int runSurfaceMode(const Options& options, const Mesh& a, const Mesh& b);
