#include "ply/file_map.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ply_reader {

FileMap::~FileMap() {
    if (map_) munmap(map_, size_);
}

void FileMap::release(const char* from, const char* to) {
    if (!map_ || from >= to) return;
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(from) + page - 1) & ~(page - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(to) & ~(page - 1);
    if (begin < end) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

bool FileMap::load(const char* name) {
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    const bool ok = load_descriptor(fd);
    close(fd);
    return ok;
}

bool FileMap::load_descriptor(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error_ = errno;
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error_ = EISDIR;
        return false;
    }
    const bool regular = S_ISREG(st.st_mode) && st.st_size > 0;
    // A descriptor already part-way through its file (a redirected standard
    // input that something read from first) is read from where it stands.
    if (regular && lseek(fd, 0, SEEK_CUR) == 0) {
        std::size_t size = static_cast<std::size_t>(st.st_size);
        // Not populated up front: the pages of skipped fixed-size elements are
        // then never read, which matters for files larger than memory. The
        // mapping outlives the descriptor.
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            madvise(map, size, MADV_SEQUENTIAL);
            map_ = map;
            data_ = static_cast<const char*>(map);
            size_ = size;
            return true;
        }
    }
    // One byte more than a regular file's size, so that its end is seen
    // without growing the buffer.
    return read_whole(fd, regular ? static_cast<std::size_t>(st.st_size) + 1 : 65536);
}

bool FileMap::read_whole(int fd, std::size_t size_hint) {
    std::size_t used = 0;
    copy_.resize(size_hint);
    for (;;) {
        if (used == copy_.size()) copy_.resize(copy_.size() * 2);
        ssize_t got = read(fd, copy_.data() + used, copy_.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return false;
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    copy_.resize(used);
    copy_.shrink_to_fit();
    data_ = copy_.data();
    size_ = used;
    return true;
}

}  // namespace ply_reader
