#include "ply/ply_mesh.h"

#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "geometry/huge_pages.h"
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

    // A floating index is truncated toward zero; the range test comes first
    // because converting an out-of-range double to an integer is undefined.
    double value = ply_get_argument_value(argument);
    double vertexCount = static_cast<double>(load.vertexCount);
    if (!(value > -1.0 && value < vertexCount)) {
        load.error = format("face %ld refers to vertex %.17g, but the mesh has %zu vertices",
                            face_ndx, value, load.vertexCount);
        return 0;
    }
    faces.back().vertices[value_ndx] = static_cast<std::uint32_t>(value);
    return 1;
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
        if (list)
            ply_set_read_cb(ply, "face", listName, onFaceIndex, &load, 0);
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
// order of elements and properties in the file does not matter. The box is
// seeded by vertex 0 and widened in vertex order.
void finish(Mesh& mesh)
{
    if (!mesh.vertices.empty()) {
        mesh.bboxMin = mesh.vertices[0];
        mesh.bboxMax = mesh.vertices[0];
        for (const Vector3& vertex : mesh.vertices)
            mesh.includeInBox(vertex);
    }
    for (Face& face : mesh.faces)
        face.normal = faceNormal(mesh.corner(face, 0), mesh.corner(face, 1), mesh.corner(face, 2));
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
        finish(mesh);
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

std::size_t countDegenerateFaces(const Mesh& mesh)
{
    std::size_t count = 0;
    for (const Face& face : mesh.faces)
        count += face.normal == Vector3{0.0f, 0.0f, 0.0f};
    return count;
}
