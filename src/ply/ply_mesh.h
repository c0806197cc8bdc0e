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

// Faces whose normal is (0, 0, 0): every point lies in their "plane".
std::size_t countDegenerateFaces(const Mesh& mesh);
