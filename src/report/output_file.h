// A file that is written in full or not at all: the bytes go to a temporary
// file beside the destination, which replaces the destination only once
// every byte is written and the file is closed. A failed or abandoned write
// leaves no file behind (and an existing destination untouched), so a
// half-written export is never mistaken for a whole one.
#pragma once

#include <cstdio>
#include <string>

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless commit succeeded.
    ~OutputFile();

    // Opens `path` for writing: a new temporary file in its directory, or,
    // when `path` exists and is neither a regular file nor a directory (a
    // terminal, a pipe, /dev/null), `path` itself. Returns false and sets
    // `error` to "cannot write <path>: <the system's reason>".
    bool open(const std::string& path, std::string& error);

    // The stream to write to; valid between a successful open and commit.
    std::FILE* stream() const { return stream_; }

    // Flushes and closes the stream and renames the temporary file onto the
    // destination. Returns false and sets `error` when any write, the close
    // or the rename failed; the temporary file is then removed.
    bool commit(std::string& error);

private:
    void discard();

    std::string path_;
    std::string temporary_;  // empty when writing to `path_` directly
    std::FILE* stream_ = nullptr;
};
