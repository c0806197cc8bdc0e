// The meshes both reader benchmarks load: generated spheres (binary
// little-endian and ASCII, 10^6 and 10^7 faces) and the real PLY files of the
// opencv-doc and assimp-testmodels packages when they are installed.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "generate.h"

namespace bench {

struct MeshFile {
    std::string name;  // for reports
    std::string path;
    std::size_t bytes;
};

// Where generated meshes go: $MESHQEM_READER_DATA when set (kept and reused
// between runs), otherwise a temporary directory removed on destruction.
class DataDir {
public:
    DataDir()
    {
        if (const char* shared = std::getenv("MESHQEM_READER_DATA")) {
            path_ = shared;
            std::filesystem::create_directories(path_);
            return;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "meshqem-reader-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path_ = pattern;
        owned_ = true;
    }
    ~DataDir()
    {
        if (owned_)
            std::filesystem::remove_all(path_);
    }
    DataDir(const DataDir&) = delete;
    DataDir& operator=(const DataDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool owned_ = false;
};

inline std::size_t fileSize(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
}

// Generated meshes first, then the real files found. Prints what it skips.
inline std::vector<MeshFile> benchmarkFiles(const DataDir& dir)
{
    std::vector<MeshFile> files;
    for (long faces : {1'000'000L, 10'000'000L})
        for (Encoding encoding : {Encoding::littleEndian, Encoding::ascii}) {
            const char* kind = encoding == Encoding::ascii ? "ascii" : "binary_le";
            std::string name = std::string("sphere_") + (faces == 1'000'000L ? "1e6" : "1e7") +
                               "_" + kind;
            std::string path = dir.path() + "/" + name + ".ply";
            if (fileSize(path) == 0 && !writeSphere(path, sphereWithFaces(faces), encoding)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                std::exit(1);
            }
            files.push_back({name, path, fileSize(path)});
        }
    for (const char* real : {"/usr/share/doc/opencv-doc/examples/surface_matching/data",
                             "/usr/share/assimp/models/PLY"}) {
        std::error_code error;
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(real, error))
            if (entry.path().extension() == ".ply")
                found.push_back(entry.path().string());
        if (found.empty()) {
            std::printf("skipping %s: no PLY files there (package not installed)\n", real);
            continue;
        }
        std::sort(found.begin(), found.end());
        for (const std::string& path : found)
            files.push_back({std::filesystem::path(path).filename().string(), path, fileSize(path)});
    }
    return files;
}

} // namespace bench
