// Writes a closed, bumpy UV sphere as a PLY file: float x y z per vertex and a
// uchar/int index list per face, the layout most scanners and exporters use.
// Coordinates carry full float mantissas, so ASCII numbers are as long as
// real scan data (shortest round-trip form).
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

enum class Encoding { ascii, littleEndian };

struct SphereSize {
    long rings;     // latitude bands, poles excluded
    long segments;  // longitude steps
    long vertices() const { return rings * segments + 2; }
    long faces() const { return 2 * rings * segments; }
};

// A sphere with `faces` triangles when `faces` is even (2 * rings * segments),
// with rings about half the segments.
inline SphereSize sphereWithFaces(long faces)
{
    const long cells = faces / 2 > 1 ? faces / 2 : 1;
    long rings = static_cast<long>(std::sqrt(static_cast<double>(cells) / 2.0));
    while (rings > 1 && cells % rings != 0)
        --rings;
    if (rings < 1)
        rings = 1;
    return {rings, cells / rings};
}

// Returns false when the file cannot be written.
inline bool writeSphere(const std::string& path, SphereSize size, Encoding encoding)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    std::vector<char> buffer(1 << 20);
    std::setvbuf(out, buffer.data(), _IOFBF, buffer.size());
    std::fprintf(out,
                 "ply\nformat %s 1.0\ncomment bumpy sphere\nelement vertex %ld\n"
                 "property float x\nproperty float y\nproperty float z\nelement face %ld\n"
                 "property list uchar int vertex_indices\nend_header\n",
                 encoding == Encoding::ascii ? "ascii" : "binary_little_endian", size.vertices(),
                 size.faces());
    const double pi = 3.14159265358979323846;
    auto vertex = [&](double theta, double phi) {
        double r = 1.0 + 0.05 * std::sin(7.0 * theta) * std::cos(5.0 * phi);
        float p[3] = {static_cast<float>(r * std::sin(theta) * std::cos(phi)),
                      static_cast<float>(r * std::sin(theta) * std::sin(phi)),
                      static_cast<float>(r * std::cos(theta))};
        if (encoding == Encoding::littleEndian) {
            std::fwrite(p, sizeof p, 1, out);  // x86-64 is little-endian
            return;
        }
        char text[64];
        char* end = text;
        for (int k = 0; k < 3; ++k) {
            end = std::to_chars(end, text + sizeof text, p[k]).ptr;
            *end++ = k == 2 ? '\n' : ' ';
        }
        std::fwrite(text, 1, static_cast<std::size_t>(end - text), out);
    };
    auto face = [&](long a, long b, long c) {
        if (encoding == Encoding::littleEndian) {
            unsigned char bytes[13] = {3};
            std::int32_t index[3] = {static_cast<std::int32_t>(a), static_cast<std::int32_t>(b),
                                     static_cast<std::int32_t>(c)};
            std::memcpy(bytes + 1, index, sizeof index);
            std::fwrite(bytes, sizeof bytes, 1, out);
            return;
        }
        std::fprintf(out, "3 %ld %ld %ld\n", a, b, c);
    };

    vertex(0.0, 0.0);
    for (long i = 1; i <= size.rings; ++i)
        for (long j = 0; j < size.segments; ++j)
            vertex(pi * i / (size.rings + 1), 2.0 * pi * j / size.segments);
    vertex(pi, 0.0);

    const long south = size.vertices() - 1;
    auto ring = [&](long i, long j) { return 1 + (i - 1) * size.segments + j % size.segments; };
    for (long j = 0; j < size.segments; ++j)
        face(0, ring(1, j), ring(1, j + 1));
    for (long i = 1; i < size.rings; ++i)
        for (long j = 0; j < size.segments; ++j) {
            face(ring(i, j), ring(i + 1, j), ring(i + 1, j + 1));
            face(ring(i, j), ring(i + 1, j + 1), ring(i, j + 1));
        }
    for (long j = 0; j < size.segments; ++j)
        face(south, ring(size.rings, j + 1), ring(size.rings, j));
    bool ok = std::ferror(out) == 0;
    return std::fclose(out) == 0 && ok;
}

} // namespace bench
