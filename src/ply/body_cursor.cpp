#include "ply/body_cursor.h"

#include <cstdarg>
#include <cstdio>
#include <string>


namespace ply_reader {

void BodyCursor::value_error(const Step& s, long entry, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char reason[512];
    std::vsnprintf(reason, sizeof reason, fmt, ap);
    va_end(ap);
    std::string property = shown(s.property->name);
    std::string element = shown(arg.element->name);
    if (entry < 0)
        report(ply, "Error reading '%s' of '%s' number %ld: %s", property.c_str(),
               element.c_str(), arg.instance_index, reason);
    else
        report(ply, "Error reading value number %ld of '%s' of '%s' number %ld: %s", entry + 1,
               property.c_str(), element.c_str(), arg.instance_index, reason);
}

void BodyCursor::report_list_too_long(const Step& s, std::uint64_t length) {
    report(ply,
           "List length %llu of '%s' of '%s' number %ld exceeds what the %llu bytes left in "
           "the file can hold",
           static_cast<unsigned long long>(length), shown(s.property->name).c_str(),
           shown(arg.element->name).c_str(), arg.instance_index,
           static_cast<unsigned long long>(left()));
}

void BodyCursor::negative_list(const Step& s, const char* length) {
    report(ply, "Invalid list length %s in '%s' of '%s' number %ld", length,
           shown(s.property->name).c_str(), shown(arg.element->name).c_str(),
           arg.instance_index);
}

}  // namespace ply_reader
