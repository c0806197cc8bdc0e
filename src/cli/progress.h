// Progress of a run on standard error, for someone watching a terminal: the
// phase ("reading a.ply", "comparing the meshes") and, while the searches
// run, the share of their queries answered. Shown only when standard error
// is a terminal, and only once the run has lasted a second
// (MESHQEM_PROGRESS_DELAY seconds; 0 shows every phase at once); otherwise
// nothing is ever written. The line is redrawn in place by a thread of its
// own, from a counter the searches keep (query/progress.h), so the work
// itself only bumps that counter.
#pragma once

#include <cstdint>
#include <string>

// One per run, in main: watches from construction to destruction, which
// erases the line.
class ProgressDisplay {
public:
    ProgressDisplay();
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;
};

namespace progress {

// Enters a phase. With `queries` > 0 the line shows the percentage of that
// many queries answered since this call.
void phase(const std::string& label, std::uint64_t queries = 0);

// Leaves the phase: the line is erased and stays so until the next phase.
// Call before printing anything on standard error or on a terminal.
void idle();

} // namespace progress
