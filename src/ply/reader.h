// A PLY reader with a callback interface: the caller registers one handler per
// (element, property) pair it wants, and ply_read calls those handlers in file
// order while it parses the body. Everything else in the file is skipped.
//
// Formats: ascii, binary_little_endian, binary_big_endian. Scalar types:
// char uchar short ushort int uint float double and their sized aliases
// int8 uint8 int16 uint16 int32 uint32 float32 float64, for plain properties
// and for list counts and entries. Every value reaches a handler as a double.
//
// Failures are reported through the error handler given to ply_open (or, when
// none is given, printed as "RPly: <message>\n" on standard error) and make the
// failing call return 0. A file is never trusted: counts are checked against
// the bytes the file holds before anything is allocated for them.
//
// Accepted input, beyond the obvious:
// - Header: LF or CRLF line ends, blank lines, extra blanks between and after
//   words, comment and obj_info lines anywhere, lines of any length, and
//   lines that start with no keyword at all (free text some exporters write;
//   each gets a warning naming its line). The format line may follow
//   comments; its version must be 1.0.
// - Binary data starts right after the end_header line's LF.
// - List lengths must have an integer type (a float length type is a header
//   error); negative lengths and lengths the rest of the file cannot hold are
//   body errors.
// - ASCII values are separated by any whitespace, line breaks carry no
//   meaning, a leading '+' is allowed. Integer properties take integral values
//   in their type's range ("7", "7.0", "7e0"; not "7.5"). Float properties take
//   decimal numbers, nan and inf, rounded to the declared precision; values
//   beyond it are errors, values below it round towards zero.
// - Bytes after the last element are ignored, with a warning giving their
//   count (in an ASCII body, whitespace there is not counted).
// - Keywords are lower case: a line whose first word is a keyword in another
//   case ("Element face 4") is an error naming the line, except "Comment" and
//   "Obj_info", which are read as comments with a warning. The format line
//   must come before the first element.
//
// Warnings (input that is read, but perhaps not as its author meant: a header
// line without a keyword, bytes after the last element) go to the warning
// handler, by default printed as "RPly: warning: <file>: <message>\n" on
// standard error.
//
// Body errors name the value: "Error reading 'x' of 'vertex' number 3: <why>"
// or "Error reading value number 2 of 'vertex_indices' of 'face' number 7:
// <why>" (instances counted from 0, list entries from 1). A handler returning 0
// is reported as "Reading aborted by the handler of '<property>' of
// '<element>' number <n>".
#pragma once

#include <cstddef>

typedef struct t_ply_* p_ply;
typedef struct t_ply_element_* p_ply_element;
typedef struct t_ply_property_* p_ply_property;
typedef struct t_ply_argument_* p_ply_argument;

enum e_ply_type {
    PLY_INT8, PLY_UINT8, PLY_INT16, PLY_UINT16, PLY_INT32, PLY_UIN32,
    PLY_FLOAT32, PLY_FLOAT64,
    PLY_CHAR, PLY_UCHAR, PLY_SHORT, PLY_USHORT, PLY_INT, PLY_UINT,
    PLY_FLOAT, PLY_DOUBLE,
    PLY_LIST
};

enum e_ply_storage_mode { PLY_BIG_ENDIAN, PLY_LITTLE_ENDIAN, PLY_ASCII, PLY_DEFAULT };

// Receives every error message of the reader. `ply` may be null when opening failed.
typedef void (*p_ply_error_cb)(p_ply ply, const char* message);

// A read handler. Returns 1 to go on reading, 0 to abort (ply_read then fails).
typedef int (*p_ply_read_cb)(p_ply_argument argument);

// Opens a file for reading. With a null `error_cb` messages go to the default
// handler. Returns null (after reporting "Unable to open file") on failure,
// with errno set to the system's reason (EISDIR for a directory, ENOMEM when
// the file does not fit in memory).
p_ply ply_open(const char* name, p_ply_error_cb error_cb, long idata, void* pdata);

// Same, reading what is left of an open descriptor (standard input, say) to
// its end; the descriptor stays open.
p_ply ply_open_fd(int fd, p_ply_error_cb error_cb, long idata, void* pdata);

// Same as ply_open, over `size` bytes the caller keeps alive until ply_close.
p_ply ply_open_from_memory(const char* data, std::size_t size, p_ply_error_cb error_cb,
                           long idata, void* pdata);

// Sends the reader's warnings to `warning_cb` instead of the default handler
// (null restores it). Call before ply_read_header. Returns 1; 0 for a null ply.
int ply_set_warning_cb(p_ply ply, p_ply_error_cb warning_cb);

// The user data given to ply_open.
int ply_get_ply_user_data(p_ply ply, void** pdata, long* idata);

// Parses the header and checks every element's instance count against the
// bytes after it (each binary instance needs at least its scalars and list
// lengths, each ASCII value at least two characters). Returns 1 on success, 0
// after reporting the problem. Call once.
int ply_read_header(p_ply ply);

// Registers `read_cb` for a property of an element, replacing an earlier
// registration for the same pair (a null `read_cb` unregisters). Returns the
// number of instances of the element, or 0 when the element or the property is
// absent; the count has been checked against the file size, so it can size
// arrays.
long ply_set_read_cb(p_ply ply, const char* element_name, const char* property_name,
                     p_ply_read_cb read_cb, void* pdata, long idata);

// Block reading. An element whose instances all share one layout (every
// property a scalar, or lists of the same length in every instance, as in a
// mesh of triangles) can be handed over whole: one call with its records
// where the read handlers would be called value by value. The records are
// bounds-checked; the handler decodes them as it likes (in parallel, say).
// In a binary body they are the file's own bytes. An ASCII element of at
// least 2^16 values is parsed on every thread (when OpenMP has more than one
// and is not already inside a parallel region) into the records a binary
// file in the machine's byte order would hold; the values are those the
// read handlers would receive.

// Where a property sits in every record of a block.
struct t_ply_field_ {
    std::size_t offset;  // from the record's start to the scalar or the first list entry
    e_ply_type type;     // the scalar's type, or the list entries' type
    long length;         // 1 for a scalar, the list's length (the same in every record)
};

struct t_ply_block_ {
    p_ply_element element;
    const char* data;            // the first record; count * size bytes in all
    long count;                  // records, at least 1
    std::size_t size;            // bytes per record
    int swap;                    // 1 when the file's byte order is not the machine's
    const t_ply_field_* fields;  // one per property of the element, in declared order
};
typedef const t_ply_block_* p_ply_block;

// A block handler. Returns 1 when it has read the records, 0 to abort (ply_read
// then fails), or -1 to decline them: the element is then read value by value
// through its read handlers, for instance so that they name a problem the
// block handler found.
typedef int (*p_ply_block_cb)(p_ply_block block, void* pdata);

// Registers `block_cb` for an element, replacing an earlier one (null
// unregisters). The element's read handlers still serve ASCII bodies, records
// of differing layouts, and blocks the handler declines. Returns the number of
// instances, or 0 when the element is absent.
long ply_set_block_cb(p_ply ply, const char* element_name, p_ply_block_cb block_cb, void* pdata);

// The field of `block` for the property named `property_name`, or null when the
// element has no such property.
const t_ply_field_* ply_get_block_field(p_ply_block block, const char* property_name);

// Parses the body, calling the registered handlers in file order: for each
// element instance (counted from 0) its properties in declared order; for a
// list property first its length (value index -1), then each entry (value
// index 0, 1, ...). Returns 1 on success, 0 on a parse error or when a handler
// returned 0. Call once, after a successful ply_read_header.
int ply_read(p_ply ply);

// Releases the reader. Returns 1; accepts null.
// Element, property and argument handles are valid until then.
int ply_close(p_ply ply);

// Header introspection: iterate with last = null to get the first item; null
// ends the iteration. Out-pointers may be null. For a scalar property,
// length_type and value_type equal type.
p_ply_element ply_get_next_element(p_ply ply, p_ply_element last);
int ply_get_element_info(p_ply_element element, const char** name, long* ninstances);
p_ply_property ply_get_next_property(p_ply_element element, p_ply_property last);
int ply_get_property_info(p_ply_property property, const char** name, e_ply_type* type,
                          e_ply_type* length_type, e_ply_type* value_type);

// What a read handler is told about the value it receives. Defined here, with
// inline accessors, because handlers run once per value: a call into the
// library for each field would cost more than the parsing itself. Handlers
// read it through the accessors below and must not keep the pointer.
struct t_ply_argument_ {
    p_ply_element element;
    long instance_index;
    p_ply_property property;
    long length;
    long value_index;
    double value;
    void* pdata;
    long idata;
};

// Inside a read handler. Out-pointers may be null. For a scalar property the
// length is 1 and the value index 0.
inline int ply_get_argument_element(p_ply_argument argument, p_ply_element* element,
                                    long* instance_index)
{
    if (!argument) return 0;
    if (element) *element = argument->element;
    if (instance_index) *instance_index = argument->instance_index;
    return 1;
}

inline int ply_get_argument_property(p_ply_argument argument, p_ply_property* property,
                                     long* length, long* value_index)
{
    if (!argument) return 0;
    if (property) *property = argument->property;
    if (length) *length = argument->length;
    if (value_index) *value_index = argument->value_index;
    return 1;
}

inline int ply_get_argument_user_data(p_ply_argument argument, void** pdata, long* idata)
{
    if (!argument) return 0;
    if (pdata) *pdata = argument->pdata;
    if (idata) *idata = argument->idata;
    return 1;
}

inline double ply_get_argument_value(p_ply_argument argument)
{
    return argument ? argument->value : 0.0;
}
