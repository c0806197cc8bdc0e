#include "ply/ply_mesh.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include <sys/stat.h>

#include "geometry/huge_pages.h"
#include "ply/binary_value.h"
#include "ply/reader.h"

namespace {

// What the read handlers share: the mesh being filled, the declared counts
// and the first problem found, which also stops the read. Vertices and faces
// are appended as they arrive into storage reserved from the header, so each
// byte of the mesh is written once (no zero-filling pass first).
struct MeshLoad {
    Mesh& mesh;
    std::string error;
    std::size_t vertexCount = 0;  // declared; faces may precede the vertices
    std::size_t faceCount = 0;
    bool normalsDone = false;  // computed as the faces were decoded
};

// Meshes are counted with int in the report, and faces hold 32-bit indices.
constexpr long kMaxCount = INT_MAX;

const char* const kCoordinateNames[3] = {"x", "y", "z"};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* pattern, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

p_ply_element findElement(p_ply ply, const char* wanted)
{
    for (p_ply_element element = ply_get_next_element(ply, nullptr); element;
         element = ply_get_next_element(ply, element)) {
        const char* name = nullptr;
        ply_get_element_info(element, &name, nullptr);
        if (std::strcmp(name, wanted) == 0)
            return element;
    }
    return nullptr;
}

p_ply_property findProperty(p_ply_element element, const char* wanted)
{
    for (p_ply_property property = ply_get_next_property(element, nullptr); property;
         property = ply_get_next_property(element, property)) {
        const char* name = nullptr;
        ply_get_property_info(property, &name, nullptr, nullptr, nullptr);
        if (std::strcmp(name, wanted) == 0)
            return property;
    }
    return nullptr;
}

// Whether a face index read as `value` names one of `vertexCount` vertices
// once truncated toward zero. The range test comes before any conversion:
// converting an out-of-range double to an integer is undefined. A value in
// (-1, 0) truncates to vertex 0, which a mesh without vertices lacks.
inline bool namesVertex(double value, double vertexCount)
{
    return value > -1.0 && value < vertexCount && vertexCount >= 1.0;
}

// Values arrive as doubles and are stored as floats; one outside float range
// becomes infinite here and is rejected with the NaNs.
template <bool Appends>
int onVertexValue(p_ply_argument argument)
{
    void* user_data = nullptr;
    long value_type = 0;
    long vertex_ndx = 0;
    ply_get_argument_user_data(argument, &user_data, &value_type);
    ply_get_argument_element(argument, nullptr, &vertex_ndx);
    MeshLoad& load = *static_cast<MeshLoad*>(user_data);
    auto& vertices = load.mesh.vertices;
    // The first coordinate declared appends the vertex, the others fill it in.
    const std::size_t expected = vertices.size() - (Appends ? 0 : 1);
    if (value_type < 0 || value_type > 2 || static_cast<unsigned long>(vertex_ndx) != expected ||
        (Appends && expected >= load.vertexCount)) {
        load.error = "internal error: vertex value out of place";
        return 0;
    }

    double value = ply_get_argument_value(argument);
    float coordinate = static_cast<float>(value);
    if (!std::isfinite(coordinate)) {
        load.error = format("vertex %ld has a %s coordinate that is not a finite float (%g)",
                            vertex_ndx, kCoordinateNames[value_type], value);
        return 0;
    }
    if (Appends)
        vertices.push_back(Vector3{0.0f, 0.0f, 0.0f});
    Vector3& vertex = vertices.back();
    (value_type == 0 ? vertex.x : value_type == 1 ? vertex.y : vertex.z) = coordinate;
    return 1;
}

int onFaceIndex(p_ply_argument argument)
{
    void* user_data = nullptr;
    long length = 0;
    long value_ndx = 0;
    long face_ndx = 0;
    ply_get_argument_user_data(argument, &user_data, nullptr);
    ply_get_argument_property(argument, nullptr, &length, &value_ndx);
    ply_get_argument_element(argument, nullptr, &face_ndx);
    MeshLoad& load = *static_cast<MeshLoad*>(user_data);
    auto& faces = load.mesh.faces;

    if (length != 3) {
        load.error = format("face %ld has %ld vertex indices; only triangles are supported",
                            face_ndx, length);
        return 0;
    }
    // The length comes first and appends the face; its indices follow.
    if (value_ndx == -1) {
        if (static_cast<unsigned long>(face_ndx) != faces.size() || faces.size() >= load.faceCount) {
            load.error = "internal error: face out of place";
            return 0;
        }
        faces.push_back(Face{});
        return 1;
    }
    if (value_ndx < 0 || value_ndx > 2 || static_cast<unsigned long>(face_ndx) + 1 != faces.size()) {
        load.error = "internal error: face index out of place";
        return 0;
    }

    const double value = ply_get_argument_value(argument);
    if (!namesVertex(value, static_cast<double>(load.vertexCount))) {
        load.error = format("face %ld refers to vertex %.17g, but the mesh has %zu vertices",
                            face_ndx, value, load.vertexCount);
        return 0;
    }
    faces.back().vertices[value_ndx] = static_cast<std::uint32_t>(value);
    return 1;
}

// Binary blocks. A block's values are decoded as the read handlers would
// receive them (as doubles, then converted the same way), so both ways give
// the same mesh; the loops only drop the per-value calls and run in parallel.
// A block with a problem is declined, and the value-by-value read that
// follows names the problem as it always has.

using ply_reader::Scalar;

// A value type known when compiling, or kAnyKind for the field's own.
constexpr int kAnyKind = -1;

template <bool Swap, int Kind>
inline double decode(const char* p, Scalar kind)
{
    return ply_reader::load<Swap>(Kind == kAnyKind ? kind : static_cast<Scalar>(Kind), p);
}

// Returns false when a coordinate is not a finite float.
template <bool Swap, int Kind>
bool decodeVertices(p_ply_block block, const t_ply_field_* const (&fields)[3], Vector3* out)
{
    Scalar kinds[3];
    std::size_t offsets[3];
    for (int k = 0; k < 3; ++k)
        kinds[k] = ply_reader::scalar_of(fields[k]->type), offsets[k] = fields[k]->offset;
    const std::ptrdiff_t count = block->count;
    bool finite = true;
#pragma omp parallel for schedule(static) reduction(&& : finite) if (count >= kParallelMeshPass)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const char* record = block->data + std::size_t(i) * block->size;
        const float x = static_cast<float>(decode<Swap, Kind>(record + offsets[0], kinds[0]));
        const float y = static_cast<float>(decode<Swap, Kind>(record + offsets[1], kinds[1]));
        const float z = static_cast<float>(decode<Swap, Kind>(record + offsets[2], kinds[2]));
        finite = finite && std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
        out[i] = Vector3{x, y, z};
    }
    return finite;
}

template <bool Swap>
bool decodeVertices(p_ply_block block, const t_ply_field_* const (&fields)[3], Vector3* out)
{
    const e_ply_type type = fields[0]->type;
    if (fields[1]->type == type && fields[2]->type == type) {
        if (ply_reader::scalar_of(type) == Scalar::F32)
            return decodeVertices<Swap, int(Scalar::F32)>(block, fields, out);
        if (ply_reader::scalar_of(type) == Scalar::F64)
            return decodeVertices<Swap, int(Scalar::F64)>(block, fields, out);
    }
    return decodeVertices<Swap, kAnyKind>(block, fields, out);
}

int onVertexBlock(p_ply_block block, void* user_data)
{
    MeshLoad& load = *static_cast<MeshLoad*>(user_data);
    auto& vertices = load.mesh.vertices;
    const t_ply_field_* fields[3];
    for (int k = 0; k < 3; ++k) {
        fields[k] = ply_get_block_field(block, kCoordinateNames[k]);
        if (!fields[k] || fields[k]->length != 1)
            return -1;
    }
    if (!vertices.empty() || static_cast<std::size_t>(block->count) != load.vertexCount)
        return -1;
    vertices.resize(load.vertexCount);
    const bool finite = block->swap ? decodeVertices<true>(block, fields, vertices.data())
                                    : decodeVertices<false>(block, fields, vertices.data());
    if (finite)
        return 1;
    vertices.clear();
    return -1;
}

// Returns false when an index is outside the vertex list. With `vertices`
// (all of them read) each face's normal is computed as it is decoded.
template <bool Swap, int Kind>
bool decodeFaces(p_ply_block block, const t_ply_field_& list, std::size_t vertexCount,
                 const Vector3* vertices, Face* out)
{
    const Scalar kind = ply_reader::scalar_of(list.type);
    const std::size_t entry = ply_reader::size_of(Kind == kAnyKind ? kind : Scalar(Kind));
    const double limit = static_cast<double>(vertexCount);
    const std::ptrdiff_t count = block->count;
    bool inRange = true;
#pragma omp parallel for schedule(static) reduction(&& : inRange) if (count >= kParallelMeshPass)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const char* entries = block->data + std::size_t(i) * block->size + list.offset;
        Face& face = out[i];
        bool valid = true;
        for (int k = 0; k < 3; ++k) {
            const double value = decode<Swap, Kind>(entries + k * entry, kind);
            const bool in = namesVertex(value, limit);
            face.vertices[k] = in ? static_cast<std::uint32_t>(value) : 0;
            valid = valid && in;
        }
        inRange = inRange && valid;
        if (vertices)
            face.normal = faceNormal(vertices[face.vertices[0]], vertices[face.vertices[1]],
                                     vertices[face.vertices[2]]);
    }
    return inRange;
}

template <bool Swap>
bool decodeFaces(p_ply_block block, const t_ply_field_& list, std::size_t vertexCount,
                 const Vector3* vertices, Face* out)
{
    switch (ply_reader::scalar_of(list.type)) {
    case Scalar::I32:
        return decodeFaces<Swap, int(Scalar::I32)>(block, list, vertexCount, vertices, out);
    case Scalar::U32:
        return decodeFaces<Swap, int(Scalar::U32)>(block, list, vertexCount, vertices, out);
    default:
        return decodeFaces<Swap, kAnyKind>(block, list, vertexCount, vertices, out);
    }
}

int onFaceBlock(p_ply_block block, void* user_data)
{
    MeshLoad& load = *static_cast<MeshLoad*>(user_data);
    auto& faces = load.mesh.faces;
    const t_ply_field_* list = ply_get_block_field(block, "vertex_indices");
    if (!list)
        list = ply_get_block_field(block, "vertex_index");
    if (!list || list->length != 3 || !faces.empty() ||
        static_cast<std::size_t>(block->count) != load.faceCount)
        return -1;
    // Vertices come first in nearly every file; otherwise the normals wait.
    const bool withNormals = load.mesh.vertices.size() == load.vertexCount;
    const Vector3* vertices = withNormals ? load.mesh.vertices.data() : nullptr;
    faces.resize(load.faceCount);
    const bool inRange =
        block->swap ? decodeFaces<true>(block, *list, load.vertexCount, vertices, faces.data())
                    : decodeFaces<false>(block, *list, load.vertexCount, vertices, faces.data());
    if (inRange) {
        load.normalsDone = withNormals;
        return 1;
    }
    faces.clear();
    return -1;
}

// Registers the handlers and reserves the mesh from the header. Returns false
// with `load.error` set when the header does not describe a triangle mesh.
bool prepare(p_ply ply, MeshLoad& load)
{
    long vertexCount = 0;
    if (p_ply_element vertexElement = findElement(ply, "vertex")) {
        ply_get_element_info(vertexElement, nullptr, &vertexCount);
        for (long coordinate = 0; coordinate < 3; ++coordinate) {
            const char* name = kCoordinateNames[coordinate];
            p_ply_property property = findProperty(vertexElement, name);
            e_ply_type type = PLY_FLOAT;
            if (property)
                ply_get_property_info(property, nullptr, &type, nullptr, nullptr);
            if (!property && vertexCount > 0) {
                load.error = format("the vertex element has no '%s' property", name);
                return false;
            }
            if (property && type == PLY_LIST) {
                load.error = format("the vertex property '%s' is a list, not a number", name);
                return false;
            }
        }
        // The coordinate the reader delivers first for each vertex appends it.
        bool first = true;
        for (p_ply_property property = ply_get_next_property(vertexElement, nullptr); property;
             property = ply_get_next_property(vertexElement, property)) {
            const char* name = nullptr;
            ply_get_property_info(property, &name, nullptr, nullptr, nullptr);
            for (long coordinate = 0; coordinate < 3; ++coordinate) {
                if (std::strcmp(name, kCoordinateNames[coordinate]) != 0)
                    continue;
                ply_set_read_cb(ply, "vertex", name,
                                first ? onVertexValue<true> : onVertexValue<false>, &load,
                                coordinate);
                first = false;
            }
        }
        ply_set_block_cb(ply, "vertex", onVertexBlock, &load);
    }

    long faceCount = 0;
    if (p_ply_element faceElement = findElement(ply, "face")) {
        ply_get_element_info(faceElement, nullptr, &faceCount);
        const char* listName = "vertex_indices";
        p_ply_property list = findProperty(faceElement, listName);
        if (!list) {
            listName = "vertex_index";
            list = findProperty(faceElement, listName);
        }
        e_ply_type type = PLY_LIST;
        if (list)
            ply_get_property_info(list, nullptr, &type, nullptr, nullptr);
        if (!list && faceCount > 0) {
            load.error = "the face element has no 'vertex_indices' or 'vertex_index' list";
            return false;
        }
        if (list && type != PLY_LIST) {
            load.error = format("the face property '%s' is not a list", listName);
            return false;
        }
        if (list) {
            ply_set_read_cb(ply, "face", listName, onFaceIndex, &load, 0);
            ply_set_block_cb(ply, "face", onFaceBlock, &load);
        }
    }

    if (vertexCount > kMaxCount || faceCount > kMaxCount) {
        load.error = format("the file declares %ld vertices and %ld faces; at most %ld of each "
                            "are supported", vertexCount, faceCount, kMaxCount);
        return false;
    }
    // The reader has checked that the file holds enough bytes for every
    // declared instance, so these sizes are bounded by the file's size; and
    // reserved memory is only touched as the data arrives.
    load.vertexCount = static_cast<std::size_t>(vertexCount);
    load.faceCount = static_cast<std::size_t>(faceCount);
    try {
        load.mesh.vertices.reserve(load.vertexCount);
        load.mesh.faces.reserve(load.faceCount);
    } catch (const std::bad_alloc&) {
        load.error = format("not enough memory for %ld vertices and %ld faces", vertexCount,
                            faceCount);
        return false;
    }
    adviseHugePages(load.mesh.vertices.data(), load.vertexCount * sizeof(Vector3));
    adviseHugePages(load.mesh.faces.data(), load.faceCount * sizeof(Face));
    return true;
}

// The box and the normals are derived once every value is in place, so the
// order of elements and properties in the file does not matter (the normals
// may already be done: see onFaceBlock). The box is seeded by vertex 0 and
// widened in vertex order.
void finish(Mesh& mesh, bool normalsDone)
{
    if (!mesh.vertices.empty()) {
        mesh.bboxMin = mesh.vertices[0];
        mesh.bboxMax = mesh.vertices[0];
        mesh.includeVerticesInBox();
    }
    if (normalsDone)
        return;
    const std::ptrdiff_t count = std::ptrdiff_t(mesh.faces.size());
#pragma omp parallel for schedule(static) if (count >= kParallelMeshPass)
    for (std::ptrdiff_t f = 0; f < count; ++f) {
        Face& face = mesh.faces[std::size_t(f)];
        face.normal = faceNormal(mesh.corner(face, 0), mesh.corner(face, 1), mesh.corner(face, 2));
    }
}

bool load(p_ply ply, Mesh& mesh, std::string& error)
{
    MeshLoad load{mesh, {}};
    bool ok = ply && ply_read_header(ply) && prepare(ply, load) && ply_read(ply);
    ply_close(ply);
    // Every instance of a declared vertex or face element calls its handlers.
    if (ok && (mesh.vertices.size() != load.vertexCount ||
               mesh.faces.size() != load.faceCount)) {
        load.error = "internal error: the mesh is incomplete";
        ok = false;
    }
    if (ok) {
        finish(mesh, load.normalsDone);
        return true;
    }
    mesh = Mesh{};
    error = load.error.empty() ? "not a readable PLY file" : load.error;
    return false;
}

// An open that failed: the reader has reported it, errno says why.
bool openFailed(Mesh& mesh, std::string& error)
{
    const int reason = errno;
    mesh = Mesh{};
    error = std::string("cannot open: ") + std::strerror(reason);
    return false;
}

} // namespace

bool loadPlyMesh(const char* fileName, Mesh& mesh, std::string& error, p_ply_error_cb errorHandler,
                 p_ply_error_cb warningHandler)
{
    p_ply ply = ply_open(fileName, errorHandler, 0, nullptr);
    if (!ply)
        return openFailed(mesh, error);
    ply_set_warning_cb(ply, warningHandler);
    return load(ply, mesh, error);
}

bool loadPlyMeshFromDescriptor(int fd, Mesh& mesh, std::string& error, p_ply_error_cb errorHandler,
                               p_ply_error_cb warningHandler)
{
    p_ply ply = ply_open_fd(fd, errorHandler, 0, nullptr);
    if (!ply)
        return openFailed(mesh, error);
    ply_set_warning_cb(ply, warningHandler);
    return load(ply, mesh, error);
}

bool loadPlyMeshFromMemory(const char* data, std::size_t size, Mesh& mesh, std::string& error,
                           p_ply_error_cb errorHandler, p_ply_error_cb warningHandler)
{
    p_ply ply = ply_open_from_memory(data, size, errorHandler, 0, nullptr);
    ply_set_warning_cb(ply, warningHandler);
    return load(ply, mesh, error);
}

namespace {

// The size of a regular file, or -1.
long long regularFileSize(const char* fileName)
{
    struct stat status;
    if (stat(fileName, &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return static_cast<long long>(status.st_size);
}

// Whether the header's format line says ascii, from the first bytes of the
// file; true when no format line is found there (the reader will say why).
bool declaresAscii(const char* fileName)
{
    char head[1024];
    std::size_t got = 0;
    if (std::FILE* file = std::fopen(fileName, "rb")) {
        got = std::fread(head, 1, sizeof head - 1, file);
        std::fclose(file);
    }
    head[got] = '\0';
    const char* format = std::strstr(head, "\nformat ");
    if (!format)
        return true;
    format += std::strlen("\nformat ");
    while (*format == ' ' || *format == '\t')
        ++format;
    return std::strncmp(format, "ascii", 5) == 0;
}

} // namespace

bool plyFilesReadBestSideBySide(const char* first, const char* second)
{
    const long long firstSize = regularFileSize(first);
    const long long secondSize = regularFileSize(second);
    if (firstSize < 0 || secondSize < 0)
        return true;
    return 4 * std::min(firstSize, secondSize) >= std::max(firstSize, secondSize) &&
           declaresAscii(first) && declaresAscii(second);
}

std::size_t countDegenerateFaces(const Mesh& mesh)
{
    const std::ptrdiff_t faces = std::ptrdiff_t(mesh.faces.size());
    std::size_t count = 0;
#pragma omp parallel for schedule(static) reduction(+ : count) if (faces >= kParallelMeshPass)
    for (std::ptrdiff_t f = 0; f < faces; ++f)
        count += mesh.faces[std::size_t(f)].normal == Vector3{0.0f, 0.0f, 0.0f};
    return count;
}
