// The reader's state, shared by its modules (header, body, public API): where
// the bytes are, what the header declared, and where errors go.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ply/file_map.h"
#include "ply/reader.h"
#include "ply/scalar.h"

struct t_ply_property_ {
    std::string name;
    e_ply_type type;         // PLY_LIST for lists
    e_ply_type length_type;  // lists only; equals value_type for scalars
    e_ply_type value_type;   // the scalar type, or the list entry type
    ply_reader::Scalar value;
    ply_reader::Scalar length;  // lists only; equals value for scalars
    p_ply_read_cb read_cb = nullptr;
    void* pdata = nullptr;
    long idata = 0;
};

struct t_ply_element_ {
    std::string name;
    long ninstances = 0;
    std::vector<t_ply_property_> properties;
    p_ply_block_cb block_cb = nullptr;
    void* block_pdata = nullptr;
};

namespace ply_reader {

// Prints "RPly: <message>\n" on standard error.
void default_error_cb(p_ply ply, const char* message);
// Prints "RPly: warning: <message>\n" on standard error.
void default_warning_cb(p_ply ply, const char* message);

}  // namespace ply_reader

struct t_ply_ {
    // opened -> header_read -> finished; a failed header also ends in finished.
    enum class State { opened, header_read, finished };

    p_ply_error_cb error_cb = ply_reader::default_error_cb;
    p_ply_error_cb warning_cb = ply_reader::default_warning_cb;
    std::string name;  // the file's name as given to ply_open; empty in memory
    long idata = 0;
    void* pdata = nullptr;

    // The whole file: the caller's bytes, or those of `file`.
    const char* data = nullptr;
    std::size_t size = 0;
    ply_reader::FileMap file;

    State state = State::opened;
    e_ply_storage_mode mode = PLY_DEFAULT;  // set by the header's format line
    std::size_t body = 0;                   // offset of the first byte after the header
    std::vector<t_ply_element_> elements;
};

namespace ply_reader {

// Formats a message and hands it to the reader's error handler.
void report(p_ply ply, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Formats a message about something the reader accepts but the file's author
// may not have meant, prefixes the file's name when it has one ("<name>: "),
// and hands it to the reader's warning handler. Reading goes on.
void warn(p_ply ply, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace ply_reader
