// Files over 4 GiB: counts and offsets are 64-bit throughout. The files are
// sparse (a hole where a huge skipped element lies), so they take almost no
// disk space; the test is skipped where the file system cannot make them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "helpers.h"
#include "ply/ply_mesh.h"
#include "ply/reader.h"

namespace {

constexpr long long kSkipped = 5'000'000'000LL;  // > 2^32 one-byte instances

struct LargeLayout {
    const char* name;
    std::string skippedProperties;  // of the element between vertices and faces
    long long skippedBytes;         // its size in the file
};

// Three vertices, then `skip` with kSkipped instances
// lying in a hole, then one face. Returns "" when the file cannot be made.
std::string makeSparseFile(const test::TempDir& dir, const LargeLayout& layout)
{
    const std::string head = "ply\nformat binary_little_endian 1.0\nelement vertex 3\n"
                             "property float x\nproperty float y\nproperty float z\n"
                             "element skip " + std::to_string(kSkipped) + "\n" +
                             layout.skippedProperties +
                             "element face 1\nproperty list uchar int vertex_indices\nend_header\n";
    std::string vertices;
    for (float c : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f})
        test::appendBinary(vertices, c, test::PlyFormat::littleEndian);
    std::string face(1, '\3');
    for (std::int32_t index : {0, 1, 2})
        test::appendBinary(face, index, test::PlyFormat::littleEndian);

    const std::string path = dir.path(std::string(layout.name) + ".ply");
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    if (fd < 0)
        return "";
    const std::string start = head + vertices;
    const off_t faceAt = static_cast<off_t>(start.size() + layout.skippedBytes);
    bool ok = write(fd, start.data(), start.size()) == static_cast<ssize_t>(start.size()) &&
              ftruncate(fd, faceAt) == 0 &&
              pwrite(fd, face.data(), face.size(), faceAt) == static_cast<ssize_t>(face.size());
    struct stat st {};
    // A file system without holes would have written gigabytes of zeros.
    ok = ok && fstat(fd, &st) == 0 && st.st_blocks * 512LL < (64LL << 20);
    close(fd);
    if (!ok) {
        unlink(path.c_str());
        return "";
    }
    return path;
}

long maxRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class LargeFile : public testing::TestWithParam<LargeLayout> {};

// The skipped element is jumped over in one step: its pages are never read,
// so the process's peak memory does not grow by the gigabytes it spans.
TEST_P(LargeFile, LoaderReadsTheMeshBeyondTheHoleWithoutTouchingIt)
{
    test::TempDir dir;
    const std::string path = makeSparseFile(dir, GetParam());
    if (path.empty())
        GTEST_SKIP() << "cannot make a sparse file over 4 GiB here";

    const long rssBefore = maxRssKiB();
    Mesh mesh;
    std::string error;
    ASSERT_TRUE(loadPlyMesh(path.c_str(), mesh, error)) << error;
    EXPECT_LT(maxRssKiB() - rssBefore, 256L << 10);
    ASSERT_EQ(mesh.vertexCount(), 3u);
    ASSERT_EQ(mesh.faceCount(), 1u);
    EXPECT_EQ(mesh.vertexAt(1), (Vector3{1, 0, 0}));
    EXPECT_EQ(mesh.faceAt(0).vertices, (std::array<std::uint32_t, 3>{0, 1, 2}));
    EXPECT_EQ(mesh.faceAt(0).normal, (Vector3{0, 0, 1}));
}

int countCall(p_ply_argument argument)
{
    void* counter = nullptr;
    ply_get_argument_user_data(argument, &counter, nullptr);
    ++*static_cast<long*>(counter);
    return 1;
}

// Counts past 2^32 come back whole, and a registered element after the hole
// is read at its 64-bit offset.
TEST_P(LargeFile, ReaderReportsTheFullCountAndReadsPastIt)
{
    test::TempDir dir;
    const std::string path = makeSparseFile(dir, GetParam());
    if (path.empty())
        GTEST_SKIP() << "cannot make a sparse file over 4 GiB here";

    p_ply ply = ply_open(path.c_str(), nullptr, 0, nullptr);
    ASSERT_NE(ply, nullptr);
    ASSERT_TRUE(ply_read_header(ply));
    p_ply_element skip = ply_get_next_element(ply, ply_get_next_element(ply, nullptr));
    long count = 0;
    ply_get_element_info(skip, nullptr, &count);
    EXPECT_EQ(count, kSkipped);
    long calls = 0;
    EXPECT_EQ(ply_set_read_cb(ply, "face", "vertex_indices", countCall, &calls, 0), 1);
    EXPECT_TRUE(ply_read(ply));
    ply_close(ply);
    EXPECT_EQ(calls, 4);  // the length and three indices
}

INSTANTIATE_TEST_SUITE_P(
    Ply, LargeFile,
    testing::Values(LargeLayout{"OneByteRecords", "property uchar flag\n", kSkipped},
                    LargeLayout{"WideRecords", "property double a\nproperty uchar b\n", 9 * kSkipped},
                    // Declared but property-less: 0-byte records, nothing in the file.
                    LargeLayout{"EmptyRecords", "", 0}),
    [](const auto& tested) { return std::string(tested.param.name); });

} // namespace
