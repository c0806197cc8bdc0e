#include "cli/input.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <omp.h>
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

void holdClosedStandardStreams()
{
    // Each open takes the lowest free number, the stream's own, because
    // the ones below it are open by then.
    for (int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        if (fcntl(stream, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", stream == STDIN_FILENO ? O_WRONLY : O_RDONLY);
}

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

// Standard input goes side by side: a pipe is read whole as it comes.
bool readSideBySide(const std::string (&fileNames)[2])
{
    return fileNames[0] == kStandardInputName || fileNames[1] == kStandardInputName ||
           plyFilesReadBestSideBySide(fileNames[0].c_str(), fileNames[1].c_str());
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
