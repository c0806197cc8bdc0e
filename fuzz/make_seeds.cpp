// Writes the fuzzer's seed corpus: one small tetrahedron in every format, with
// every scalar type for the coordinates and for the face lists, plus the
// header variations real files have (comments, CRLF, extra elements and lists,
// faces before vertices, the vertex_index spelling).
//   meshqem_fuzz_seeds DIR
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <string>
#include <vector>

namespace {

struct Type {
    const char* name;
    int size;
    bool isFloat;
    bool isSigned;
};

const Type kTypes[] = {
    {"char", 1, false, true},    {"uchar", 1, false, false}, {"short", 2, false, true},
    {"ushort", 2, false, false}, {"int", 4, false, true},    {"uint", 4, false, false},
    {"float", 4, true, true},    {"double", 8, true, true},  {"int8", 1, false, true},
    {"uint8", 1, false, false},  {"int16", 2, false, true},  {"uint16", 2, false, false},
    {"int32", 4, false, true},   {"uint32", 4, false, false}, {"float32", 4, true, true},
    {"float64", 8, true, true}};

enum class Format { ascii, little, big };

const char* formatName(Format f)
{
    return f == Format::ascii ? "ascii" : f == Format::little ? "binary_little_endian" : "binary_big_endian";
}

void appendValue(std::string& out, const Type& type, double value, Format format)
{
    if (format == Format::ascii) {
        char text[32];
        std::snprintf(text, sizeof text, type.isFloat ? "%g " : "%.0f ", value);
        out += text;
        return;
    }
    unsigned char bytes[8];
    if (type.isFloat && type.size == 4) {
        float f = float(value);
        std::memcpy(bytes, &f, 4);
    } else if (type.isFloat) {
        std::memcpy(bytes, &value, 8);
    } else {
        std::uint64_t bits = std::uint64_t(std::int64_t(value));
        for (int i = 0; i < 8; ++i)
            bytes[i] = (bits >> (8 * i)) & 0xff;  // little-endian integer
    }
    if (format == Format::big)
        for (int i = 0; i < type.size / 2; ++i)
            std::swap(bytes[i], bytes[type.size - 1 - i]);
    out.append(reinterpret_cast<char*>(bytes), type.size);
}

const double kVertices[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const int kFaces[4][3] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};

struct Variant {
    const Type* coordinate;
    const Type* count;
    const Type* index;
    const char* eol = "\n";
    const char* listName = "vertex_indices";
    bool extras = false;       // comments, obj_info, an extra element and list
    bool facesFirst = false;
};

std::string tetrahedron(Format format, const Variant& v)
{
    std::string eol = v.eol;
    std::string vertexHeader = "element vertex 4" + eol;
    for (const char* axis : {"x", "y", "z"})
        vertexHeader += std::string("property ") + v.coordinate->name + " " + axis + eol;
    if (v.extras)
        vertexHeader += "property uchar red" + eol + "property list uchar float texcoord" + eol;
    std::string faceHeader = "element face 4" + eol + "property list " + v.count->name + " " +
                             v.index->name + " " + v.listName + eol;

    std::string out = "ply" + eol + "format " + formatName(format) + " 1.0" + eol;
    if (v.extras)
        out += "comment made by meshqem_fuzz_seeds" + eol + "obj_info tetrahedron" + eol +
               "element material 1" + eol + "property float shininess" + eol;
    out += v.facesFirst ? faceHeader + vertexHeader : vertexHeader + faceHeader;
    out += "end_header" + eol;

    const Type uchar = kTypes[1], floatType = kTypes[6];
    std::string material, vertices, faces;
    if (v.extras)
        appendValue(material, floatType, 0.5, format);
    for (const auto& vertex : kVertices) {
        for (double c : vertex)
            appendValue(vertices, *v.coordinate, c, format);
        if (v.extras) {
            appendValue(vertices, uchar, 200, format);
            appendValue(vertices, uchar, 2, format);
            appendValue(vertices, floatType, 0.25, format);
            appendValue(vertices, floatType, 0.75, format);
        }
        if (format == Format::ascii)
            vertices += eol;
    }
    for (const auto& face : kFaces) {
        appendValue(faces, *v.count, 3, format);
        for (int index : face)
            appendValue(faces, *v.index, index, format);
        if (format == Format::ascii)
            faces += eol;
    }
    return out + material + (v.facesFirst ? faces + vertices : vertices + faces);
}

bool write(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: meshqem_fuzz_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const Type* uchar = &kTypes[1];
    const Type* intType = &kTypes[4];
    int written = 0;
    for (Format format : {Format::ascii, Format::little, Format::big}) {
        std::vector<std::pair<std::string, Variant>> variants;
        for (const Type& type : kTypes) {
            variants.push_back({std::string("coord-") + type.name, {&type, uchar, intType}});
            variants.push_back({std::string("index-") + type.name, {&kTypes[6], uchar, &type}});
            if (!type.isFloat)
                variants.push_back({std::string("count-") + type.name, {&kTypes[6], &type, intType}});
        }
        variants.push_back({"crlf-extras", {&kTypes[6], uchar, intType, "\r\n", "vertex_indices", true}});
        variants.push_back({"faces-first", {&kTypes[7], uchar, &kTypes[5], "\n", "vertex_index", true, true}});
        for (const auto& [name, variant] : variants) {
            std::string path = dir + "/" + formatName(format) + "-" + name + ".ply";
            if (!write(path, tetrahedron(format, variant))) {
                std::perror(path.c_str());
                return 1;
            }
            ++written;
        }
    }
    std::printf("%d seeds in %s\n", written, dir.c_str());
    return 0;
}
