// Shared test fixtures: tiny meshes written as PLY bytes in every format, and
// a temporary directory that cleans up after itself.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/mesh.h"

namespace test {

enum class PlyFormat { ascii, littleEndian, bigEndian };

inline const char* formatName(PlyFormat format)
{
    switch (format) {
    case PlyFormat::ascii: return "ascii";
    case PlyFormat::littleEndian: return "binary_little_endian";
    case PlyFormat::bigEndian: return "binary_big_endian";
    }
    return "";
}

template <typename T>
void appendBinary(std::string& out, T value, PlyFormat format)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    bool hostIsLittle = [] { std::uint16_t one = 1; char c; std::memcpy(&c, &one, 1); return c == 1; }();
    if ((format == PlyFormat::bigEndian) == hostIsLittle)
        std::reverse(bytes, bytes + sizeof(T));
    out.append(bytes, sizeof(T));
}

// A triangle mesh as PLY bytes: float x y z, then a uchar/int index list.
inline std::string encodePly(const std::vector<Vector3>& vertices,
                             const std::vector<std::array<int, 3>>& faces, PlyFormat format)
{
    std::ostringstream header;
    header << "ply\nformat " << formatName(format) << " 1.0\n"
           << "element vertex " << vertices.size() << "\n"
           << "property float x\nproperty float y\nproperty float z\n"
           << "element face " << faces.size() << "\n"
           << "property list uchar int vertex_indices\nend_header\n";
    std::string out = header.str();
    if (format == PlyFormat::ascii) {
        std::ostringstream body;
        body.precision(9);
        for (const Vector3& v : vertices)
            body << v.x << ' ' << v.y << ' ' << v.z << '\n';
        for (const auto& f : faces)
            body << "3 " << f[0] << ' ' << f[1] << ' ' << f[2] << '\n';
        return out + body.str();
    }
    for (const Vector3& v : vertices)
        for (float c : {v.x, v.y, v.z})
            appendBinary(out, c, format);
    for (const auto& f : faces) {
        appendBinary(out, std::uint8_t(3), format);
        for (int index : f)
            appendBinary(out, std::int32_t(index), format);
    }
    return out;
}

// A closed tetrahedron over the unit axes: a small valid mesh.
inline const std::vector<Vector3> kTetraVertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
inline const std::vector<std::array<int, 3>> kTetraFaces = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "meshqem-test-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        path_ = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes `bytes` to a file named `name` in the directory; returns its path.
    std::string write(const std::string& name, const std::string& bytes) const
    {
        std::string file = (path_ / name).string();
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
    std::string path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

inline const std::string kAssimpPly = "/usr/share/assimp/models/PLY/";

} // namespace test
