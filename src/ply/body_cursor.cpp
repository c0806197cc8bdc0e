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

int BodyCursor::hand_over(const t_ply_block_& block, const char* records_end) {
    t_ply_element_& element = *arg.element;
    const int result = element.block_cb(&block, element.block_pdata);
    if (result < 0) return -1;
    if (result == 0) {
        report(ply, "Reading aborted by the block handler of '%s'", shown(element.name).c_str());
        return 0;
    }
    pos = records_end;
    return 1;
}

void BodyCursor::negative_list(const Step& s, const char* length) {
    report(ply, "Invalid list length %s in '%s' of '%s' number %ld", length,
           shown(s.property->name).c_str(), shown(arg.element->name).c_str(),
           arg.instance_index);
}

}  // namespace ply_reader
