#include "report/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string failure(const std::string& path, int error)
{
    return "cannot write " + path + ": " + std::strerror(error);
}

} // namespace

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard()
{
    if (stream_)
        std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool OutputFile::open(const std::string& path, std::string& error)
{
    discard();
    path_ = path;
    struct stat status;
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        error = failure(path, EISDIR);
        return false;
    }
    int fd = -1;
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    } else {
        // O_EXCL: never write through a file someone else made; the mode
        // follows the umask like any file the user creates.
        for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
            temporary_ = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0)
            temporary_.clear();
    }
    if (fd < 0) {
        error = failure(path, errno);
        return false;
    }
    stream_ = ::fdopen(fd, "wb");
    if (!stream_) {
        error = failure(path, errno);
        ::close(fd);
        discard();
        return false;
    }
    return true;
}

bool OutputFile::commit(std::string& error)
{
    if (!stream_) {
        error = failure(path_, EBADF);
        return false;
    }
    errno = 0;
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
    int reason = errno ? errno : EIO;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (written && !closed)
        reason = errno ? errno : EIO;
    if (written && closed && !temporary_.empty()) {
        if (::rename(temporary_.c_str(), path_.c_str()) == 0) {
            temporary_.clear();
            return true;
        }
        reason = errno;
    } else if (written && closed) {
        return true;
    }
    error = failure(path_, reason);
    discard();
    return false;
}
