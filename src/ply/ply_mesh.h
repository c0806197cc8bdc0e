// Reads a triangle mesh from a PLY file: the `vertex` element's x, y and z
// (in any declaration order, any numeric type) and the `face` element's index
// list, named `vertex_indices` or `vertex_index`. Everything else is skipped.
#pragma once

#include <cstddef>
#include <string>

#include "geometry/mesh.h"
#include "ply/reader.h"

// Fills the empty `mesh` from the file and computes each face's normal and the
// mesh's bounding box. Returns true when the whole file was read and is a
// valid triangle mesh. Otherwise returns false, leaves `mesh` empty and sets
// `error`: to the system's reason when the file cannot be opened or read
// ("cannot open: No such file or directory"), to the mesh problem found (a
// face that is not a triangle, an index outside the vertex list, a
// coordinate that is not finite, ...), or to a general one when the reader
// itself failed. In every case but a mesh problem the reader has already
// reported through `errorHandler` (its default handler, "RPly: ..." on
// standard error, when null); its warnings go to `warningHandler` ("RPly:
// warning: ..." when null).
bool loadPlyMesh(const char* fileName, Mesh& mesh, std::string& error,
                 p_ply_error_cb errorHandler = nullptr, p_ply_error_cb warningHandler = nullptr);

// Same, from what is left of an open descriptor such as standard input, read
// to its end; the descriptor stays open.
bool loadPlyMeshFromDescriptor(int fd, Mesh& mesh, std::string& error,
                               p_ply_error_cb errorHandler = nullptr,
                               p_ply_error_cb warningHandler = nullptr);

// Same, from `size` bytes in memory, with the reader's errors going to
// `errorHandler` and its warnings to `warningHandler` (the reader's default
// handlers when null).
bool loadPlyMeshFromMemory(const char* data, std::size_t size, Mesh& mesh, std::string& error,
                           p_ply_error_cb errorHandler = nullptr,
                           p_ply_error_cb warningHandler = nullptr);

// Whether two PLY files are best read side by side, each on one thread,
// rather than one after the other, each on every thread: only when both are
// ASCII and neither is more than four times the size of the other. An ASCII
// body of one file is parsed on one thread side by side, so two such files
// take the time of the larger. A small file costs little either way, and a
// binary file decodes in a fraction of an ASCII parse: side by side its
// thread would soon idle while the other file is parsed (rs22_proc2.ply,
// ASCII, against a binary jittered copy: 3-5 % of a whole run on two
// threads). True when either is not a regular file (a pipe, no such file).
bool plyFilesReadBestSideBySide(const char* first, const char* second);

// Faces whose normal is (0, 0, 0): every point lies in their "plane".
std::size_t countDegenerateFaces(const Mesh& mesh);
