#include "cli/input.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/progress.h"
#include "ply/ply_mesh.h"

namespace {

// Where this thread's messages go while inputs are read side by side: held
// here, to be written in input order once both are read.
thread_local std::string* heldMessages = nullptr;

void report(const std::string& line)
{
    if (heldMessages) {
        *heldMessages += line;
        return;
    }
    progress::idle();
    std::fputs(line.c_str(), stderr);
}

// The reader's own line, once the progress line is out of its way.
void reportReaderError(p_ply, const char* message)
{
    report(std::string("RPly: ") + message + "\n");
}

void reportReaderWarning(p_ply, const char* message)
{
    report(std::string("RPly: warning: ") + message + "\n");
}

bool readMesh(const std::string& fileName, Mesh& mesh, std::string& error)
{
    return fileName == kStandardInputName
               ? loadPlyMeshFromDescriptor(STDIN_FILENO, mesh, error, reportReaderError,
                                           reportReaderWarning)
               : loadPlyMesh(fileName.c_str(), mesh, error, reportReaderError,
                             reportReaderWarning);
}

// readMesh, the problem reported naming the input.
bool readAndReport(const std::string& fileName, Mesh& mesh)
{
    std::string error;
    if (readMesh(fileName, mesh, error))
        return true;
    report(std::string("meshqem: ") + shownFileName(fileName) + ": " + error + "\n");
    return false;
}

} // namespace

const char* shownFileName(const std::string& fileName)
{
    return fileName == kStandardInputName ? "standard input" : fileName.c_str();
}

bool readInput(const std::string& fileName, Mesh& mesh, std::string& error)
{
    progress::phase(std::string("reading ") + shownFileName(fileName));
    const bool loaded = readMesh(fileName, mesh, error);
    progress::idle();
    return loaded;
}

bool loadInput(const std::string& fileName, Mesh& mesh)
{
    progress::phase(std::string("reading ") + shownFileName(fileName));
    const bool loaded = readAndReport(fileName, mesh);
    progress::idle();
    return loaded;
}

namespace {

// The size of a regular file, or -1 (standard input, a pipe, no such file).
long long regularFileSize(const std::string& fileName)
{
    struct stat status;
    if (fileName == kStandardInputName || stat(fileName.c_str(), &status) != 0 ||
        !S_ISREG(status.st_mode))
        return -1;
    return static_cast<long long>(status.st_size);
}

// Whether the header's format line says ascii, from the first bytes of the
// file; true when no format line is found there (the reader will say why).
bool declaresAscii(const std::string& fileName)
{
    char head[1024];
    std::size_t got = 0;
    if (std::FILE* file = std::fopen(fileName.c_str(), "rb")) {
        got = std::fread(head, 1, sizeof head - 1, file);
        std::fclose(file);
    }
    head[got] = '\0';
    const char* format = std::strstr(head, "\nformat ");
    if (!format)
        return true;
    format += std::strlen("\nformat ");
    while (*format == ' ' || *format == '\t')
        ++format;
    return std::strncmp(format, "ascii", 5) == 0;
}

// Side by side, each input is read on one thread; one after the other, each
// is read on every thread. A small input costs little either way, so a
// lopsided pair goes one after the other. So does a pair with a binary file:
// its decode takes a fraction of an ASCII parse, so side by side its thread
// soon idles while the ASCII file is parsed on the other (rs22_proc2.ply,
// ASCII, against a binary jittered copy: 3-5 % of a whole run on two
// threads).
bool readSideBySide(const std::string (&fileNames)[2])
{
    const long long first = regularFileSize(fileNames[0]);
    const long long second = regularFileSize(fileNames[1]);
    if (first < 0 || second < 0)
        return true;
    return 4 * std::min(first, second) >= std::max(first, second) &&
           declaresAscii(fileNames[0]) && declaresAscii(fileNames[1]);
}

} // namespace

void loadInputs(const std::string (&fileNames)[2], Mesh* const (&meshes)[2], bool (&loaded)[2])
{
    if (omp_get_max_threads() < 2 || !readSideBySide(fileNames)) {
        for (int k = 0; k < 2; ++k)
            loaded[k] = loadInput(fileNames[k], *meshes[k]);
        return;
    }
    // An ASCII body is parsed on one thread: side by side, two files take
    // the time of the larger (reading two 10 MB scans was a tenth of a whole
    // run on two threads).
    progress::phase(std::string("reading ") + shownFileName(fileNames[0]) + " and " +
                    shownFileName(fileNames[1]));
    std::string messages[2];
#pragma omp parallel for num_threads(2) schedule(static, 1)
    for (int k = 0; k < 2; ++k) {
        heldMessages = &messages[k];
        loaded[k] = readAndReport(fileNames[k], *meshes[k]);
        heldMessages = nullptr;
    }
    progress::idle();
    for (const std::string& held : messages)
        std::fputs(held.c_str(), stderr);
}
