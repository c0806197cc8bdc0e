// The ways meshqem compares loaded meshes. Each checks what its figures need,
// computes, writes the exports asked for, reports on standard output and
// returns the exit status; messages go to standard error and name the file
// concerned.
#pragma once

#include <string>

#include "cli/input.h"
#include "cli/options.h"
#include "geometry/mesh.h"
#include "surface/surface_comparison.h"

constexpr int kExitUnusableInput = 1;
constexpr int kExitUsage = 2;
constexpr int kExitThresholdExceeded = 3;

// The checks a mode makes on each loaded mesh before computing: each returns
// whether the mesh is usable and reports every problem on standard error,
// naming the file. They need only the one mesh, so a file is checked even when
// the other could not be read. The default mode scales the two meshes
// differently, hence the role.
enum class MeshRole { first, second };
bool planeModeAccepts(const std::string& fileName, const Mesh& mesh, MeshRole role);
bool surfaceModeAccepts(const std::string& fileName, const Mesh& mesh);

// The nearest-plane comparison: normalises both meshes (they are changed)
// and prints the seven lines, or the JSON object with --json.
int runPlaneMode(const Options& options, Mesh& first, Mesh& second);

// The surface figures --hausdorff-error, --reconstruction and --tau ask for,
// their lengths made absolute with the diagonal of the union of a and b's
// boxes. False, with `problem` set, for an error bound too small for the
// rounding of these meshes.
bool surfaceOptionsFor(const Options& options, const Mesh& a, const Mesh& b,
                       SurfaceOptions& extra, std::string& problem);

// The point-to-surface comparison of the meshes as loaded (--surface).
int runSurfaceMode(const Options& options, const Mesh& a, const Mesh& b);

// --surface with several candidates: reads the reference and then each
// candidate in turn, comparing each with the reference, whose search index
// is built once. A candidate that cannot be used is reported in its place
// and the run goes on.
int runSurfaceBatch(const Options& options);

// Why a mesh has no surface to measure distances to, or "" when it has one.
std::string surfaceProblem(const Mesh& mesh);

// Prints each exceeded threshold on standard error ("meshqem: [FILE: ]
// threshold exceeded: ..."); returns whether there was any.
bool reportExceeded(const std::vector<std::string>& exceeded, const std::string& fileName = "");
