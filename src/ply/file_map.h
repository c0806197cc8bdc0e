// A whole file in memory, so the reader parses one buffer with plain pointer
// comparisons and never reads in pieces: a regular file is mapped privately
// and read-only; anything else (a pipe, a character device, a file the
// system refuses to map) is read to its end into a heap copy.
#pragma once

#include <cstddef>
#include <vector>

namespace ply_reader {

class FileMap {
public:
    FileMap() = default;
    ~FileMap();
    FileMap(const FileMap&) = delete;
    FileMap& operator=(const FileMap&) = delete;

    // Returns false, without reporting, when the file cannot be opened or
    // read, or is a directory; error() then holds the system's reason (an
    // errno value, EISDIR for a directory). Throws std::bad_alloc when a copy
    // does not fit in memory. Call once.
    bool load(const char* name);

    // Same, from a descriptor open for reading, which stays open: standard
    // input, for instance, read to its end (or mapped when it is a regular
    // file). Call once, instead of load.
    bool load_descriptor(int fd);

    // Why the last load failed: an errno value, 0 after a success.
    int error() const { return error_; }

    // Lets the system take back the memory of the bytes in [from, to), which
    // the reader is done with: a mapping's pages in that range leave the
    // process (touched again, they are read again from the file). A copy
    // keeps its bytes.
    void release(const char* from, const char* to);

    // Valid until destruction. data() may be null when size() is 0.
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    bool read_whole(int fd, std::size_t size_hint);

    const char* data_ = nullptr;
    std::size_t size_ = 0;
    std::vector<char> copy_;  // the contents when not mapped
    void* map_ = nullptr;
    int error_ = 0;
};

}  // namespace ply_reader
