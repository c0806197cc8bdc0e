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

#include <gtest/gtest.h>

#include "geometry/mesh.h"
#include "ply/reader.h"

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

// The same faces with every corner a vertex record of its own, as a
// triangle soup is written (no bounding box).
inline Mesh soupOf(const Mesh& mesh)
{
    Mesh soup;
    for (const Face& face : mesh.faces) {
        const std::uint32_t base = std::uint32_t(soup.vertices.size());
        for (std::uint32_t v : face.vertices)
            soup.vertices.push_back(mesh.vertices[v]);
        soup.faces.push_back({{base, base + 1, base + 2}, face.normal});
    }
    return soup;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

inline const std::string kAssimpPly = "/usr/share/assimp/models/PLY/";

// One vertex property of a PLY file, read back through the project's reader:
// every value arrives as a double, which holds a float or a byte exactly.
inline std::vector<double> readVertexProperty(const std::string& path, const char* property)
{
    std::vector<double> values;
    p_ply ply = ply_open(path.c_str(), nullptr, 0, nullptr);
    EXPECT_TRUE(ply && ply_read_header(ply)) << path;
    ply_set_read_cb(
        ply, "vertex", property,
        [](p_ply_argument argument) {
            void* data = nullptr;
            ply_get_argument_user_data(argument, &data, nullptr);
            static_cast<std::vector<double>*>(data)->push_back(ply_get_argument_value(argument));
            return 1;
        },
        &values, 0);
    EXPECT_TRUE(ply_read(ply));
    ply_close(ply);
    return values;
}

// Two parallel unit squares 0.5 apart (the first ASCII, the second binary):
// every distance between them is 0.5 and the union box, 1 x 1 x 0.5, has
// diagonal 1.5.
class ParallelSquares : public testing::Test {
protected:
    void SetUp() override
    {
        const std::vector<std::array<int, 3>> faces = {{0, 1, 2}, {0, 2, 3}};
        a = dir.write("a.ply", encodePly({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, faces,
                                         PlyFormat::ascii));
        b = dir.write("b.ply", encodePly({{0, 0, 0.5f}, {1, 0, 0.5f}, {1, 1, 0.5f}, {0, 1, 0.5f}},
                                         faces, PlyFormat::littleEndian));
    }
    TempDir dir;
    std::string a, b;
};

} // namespace test
