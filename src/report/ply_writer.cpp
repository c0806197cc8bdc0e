#include "report/ply_writer.h"

#include <cassert>
#include <cstring>

namespace {

bool hostIsLittleEndian()
{
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// Appends the bytes of `value` in little-endian order.
template <typename T>
void append(std::vector<char>& buffer, T value, bool swap)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if (swap)
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i)
            std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    buffer.insert(buffer.end(), bytes, bytes + sizeof(T));
}

// Writes the buffer out once it holds this much, and at the end.
constexpr std::size_t kChunk = 1 << 16;

bool flush(std::vector<char>& buffer, std::FILE* out)
{
    const bool written = std::fwrite(buffer.data(), 1, buffer.size(), out) == buffer.size();
    buffer.clear();
    return written;
}

} // namespace

bool writePly(const Mesh& mesh, const std::vector<PlyVertexProperty>& properties,
              const std::vector<std::string>& comments, std::FILE* out)
{
    std::string header = "ply\nformat binary_little_endian 1.0\n";
    for (const std::string& comment : comments) {
        assert(comment.find_first_of("\r\n") == std::string::npos);
        header += "comment " + comment + "\n";
    }
    header += "element vertex " + std::to_string(mesh.vertexCount()) +
              "\nproperty float x\nproperty float y\nproperty float z\n";
    for (const PlyVertexProperty& property : properties) {
        assert((property.isFloat() ? property.floats.size() : property.bytes.size()) ==
               mesh.vertexCount());
        header += std::string("property ") + (property.isFloat() ? "float " : "uchar ") +
                  property.name + "\n";
    }
    header += "element face " + std::to_string(mesh.faceCount()) +
              "\nproperty list uchar int vertex_indices\nend_header\n";
    bool written = std::fwrite(header.data(), 1, header.size(), out) == header.size();

    const bool swap = !hostIsLittleEndian();
    std::vector<char> buffer;
    buffer.reserve(kChunk + 256);
    for (std::size_t v = 0; v < mesh.vertexCount(); ++v) {
        const Vector3& p = mesh.vertices[v];
        for (float c : {p.x, p.y, p.z})
            append(buffer, c, swap);
        for (const PlyVertexProperty& property : properties) {
            if (property.isFloat())
                append(buffer, property.floats[v], swap);
            else
                buffer.push_back(char(property.bytes[v]));
        }
        if (buffer.size() >= kChunk)
            written = flush(buffer, out) && written;
    }
    for (const Face& face : mesh.faces) {
        buffer.push_back(char(3));
        for (std::uint32_t index : face.vertices)
            append(buffer, std::int32_t(index), swap);  // indices are below INT_MAX
        if (buffer.size() >= kChunk)
            written = flush(buffer, out) && written;
    }
    return flush(buffer, out) && written;
}
