#include "cli/progress.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <sys/ioctl.h>
#include <unistd.h>

#include "query/progress.h"

namespace {

using Clock = std::chrono::steady_clock;

// "meshqem: LABEL" and, with `total` > 0, " NN%" (done/total, at most 100),
// the label cut so that the line has fewer characters than the terminal's
// width and never wraps.
std::string progressLine(const std::string& label, std::uint64_t done, std::uint64_t total,
                         std::size_t width)
{
    std::string line = "meshqem: " + label;
    // A file name may hold anything; the line must stay one line.
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    const std::string percent =
        total > 0 ? " " + std::to_string(std::min<std::uint64_t>(100, done * 100 / total)) + "%"
                  : "";
    const std::size_t room = width > percent.size() + 1 ? width - 1 - percent.size() : 0;
    if (line.size() > room)
        line.resize(room);
    return line + percent;
}

// The redraw period: often enough to look alive, rarely enough to cost nothing.
constexpr std::chrono::milliseconds kPeriod{200};

struct Display {
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    Clock::time_point start = Clock::now();
    Clock::duration delay = std::chrono::seconds(1);
    std::string label;           // empty: idle
    std::uint64_t base = 0;      // answeredQueries() when the phase began
    std::uint64_t total = 0;
    std::size_t drawnWidth = 0;  // characters on the line now
    std::string drawn;
    std::thread thread;

    // With the mutex held. Writes straight to the descriptor: no stdio
    // buffer to interleave with the program's own messages. The line is
    // overwritten with spaces rather than escape sequences, which every
    // terminal understands.
    void show(const std::string& text)
    {
        if (text == drawn)
            return;
        std::string out = "\r" + text;
        if (text.size() < drawnWidth)
            out += std::string(drawnWidth - text.size(), ' ') + "\r" + text;
        for (std::size_t written = 0; written < out.size();) {
            ssize_t n = write(STDERR_FILENO, out.data() + written, out.size() - written);
            if (n <= 0)
                break;  // nothing to be done about a broken terminal
            written += std::size_t(n);
        }
        drawn = text;
        drawnWidth = text.size();
    }

    void redraw()
    {
        if (label.empty() || Clock::now() - start < delay)
            return;
        struct winsize size {};
        std::size_t width = 80;
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            width = size.ws_col;
        show(progressLine(label, answeredQueries() - base, total, width));
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            redraw();
            wake.wait_for(lock, kPeriod);
        }
        show("");
    }
};

Display* display = nullptr;

Clock::duration delayFromEnvironment()
{
    const char* value = std::getenv("MESHQEM_PROGRESS_DELAY");
    char* end = nullptr;
    const double seconds = value ? std::strtod(value, &end) : 1.0;
    if (!value || end == value || *end != '\0' || !(seconds >= 0.0) || seconds > 3600.0)
        return std::chrono::seconds(1);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

ProgressDisplay::ProgressDisplay()
{
    if (!isatty(STDERR_FILENO))
        return;
    display = new Display;
    display->delay = delayFromEnvironment();
    startCountingQueries();
    display->thread = std::thread([] { display->run(); });
}

ProgressDisplay::~ProgressDisplay()
{
    if (!display)
        return;
    {
        std::lock_guard<std::mutex> lock(display->mutex);
        display->stopping = true;
    }
    display->wake.notify_one();
    display->thread.join();
    delete display;
    display = nullptr;
}

namespace progress {

void phase(const std::string& label, std::uint64_t queries)
{
    if (!display)
        return;
    std::lock_guard<std::mutex> lock(display->mutex);
    display->label = label;
    display->base = answeredQueries();
    display->total = queries;
    display->redraw();
}

void idle()
{
    if (!display)
        return;
    std::lock_guard<std::mutex> lock(display->mutex);
    display->label.clear();
    display->show("");
}

} // namespace progress
