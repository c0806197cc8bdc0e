// The inputs of a run: a PLY file given by name, or "-" for standard input.
#pragma once

#include <string>

#include "geometry/mesh.h"

// The name that reads standard input.
constexpr const char kStandardInputName[] = "-";

// Holds each standard stream the caller left closed with /dev/null, open the
// wrong way round (write-only for standard input, read-only for the others):
// otherwise the next file opened takes its number, and "-" would read the
// other mesh file, or the report would be written into an export. Reading
// standard input and writing the report still fail with "Bad file
// descriptor", as they did closed. Call before any file is opened.
void holdClosedStandardStreams();

// How messages name an input: "standard input" for "-", else the name given.
const char* shownFileName(const std::string& fileName);

// Fills the empty `mesh` from the input. Returns false after reporting the
// problem on standard error, naming the input: the system's reason when it
// cannot be opened or read, the reader's "RPly: ..." line and the mesh
// problem when it is not a usable PLY mesh.
bool loadInput(const std::string& fileName, Mesh& mesh);

// Same, but the mesh problem or the reason it cannot be read is left in
// `error` for the caller to report (the reader's "RPly: ..." line, when it
// has one, is still written).
bool readInput(const std::string& fileName, Mesh& mesh, std::string& error);

// loadInput of both inputs: at the same time on two threads when OpenMP may
// use two and neither file is more than four times the other's size, each
// input's messages held back and written after both, the first input's
// before the second's, exactly as one after the other would write them.
// loaded[k] is loadInput's result for input k.
void loadInputs(const std::string (&fileNames)[2], Mesh* const (&meshes)[2], bool (&loaded)[2]);
