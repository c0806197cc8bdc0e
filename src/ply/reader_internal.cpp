#include "ply/reader_internal.h"

#include <cstdarg>
#include <cstdio>

namespace ply_reader {

void default_error_cb(p_ply, const char* message) { std::fprintf(stderr, "RPly: %s\n", message); }

void default_warning_cb(p_ply, const char* message) {
    std::fprintf(stderr, "RPly: warning: %s\n", message);
}

namespace {

std::string vformat(const char* fmt, va_list ap) {
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    std::string message(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(message.data(), message.size() + 1, fmt, ap2);
    va_end(ap2);
    return message;
}

}  // namespace

void report(p_ply ply, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
    ply->error_cb(ply, message.c_str());
}

void warn(p_ply ply, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
    if (!ply->name.empty()) message = ply->name + ": " + message;
    ply->warning_cb(ply, message.c_str());
}

}  // namespace ply_reader
