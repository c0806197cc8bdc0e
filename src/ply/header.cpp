#include "ply/header.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ply/saturating.h"
#include "ply/text.h"

namespace ply_reader {
namespace {

struct TypeName {
    std::string_view name;
    e_ply_type type;
    Scalar scalar;
};
constexpr TypeName kTypeNames[] = {
    {"char", PLY_CHAR, Scalar::I8},        {"uchar", PLY_UCHAR, Scalar::U8},
    {"short", PLY_SHORT, Scalar::I16},     {"ushort", PLY_USHORT, Scalar::U16},
    {"int", PLY_INT, Scalar::I32},         {"uint", PLY_UINT, Scalar::U32},
    {"float", PLY_FLOAT, Scalar::F32},     {"double", PLY_DOUBLE, Scalar::F64},
    {"int8", PLY_INT8, Scalar::I8},        {"uint8", PLY_UINT8, Scalar::U8},
    {"int16", PLY_INT16, Scalar::I16},     {"uint16", PLY_UINT16, Scalar::U16},
    {"int32", PLY_INT32, Scalar::I32},     {"uint32", PLY_UIN32, Scalar::U32},
    {"float32", PLY_FLOAT32, Scalar::F32}, {"float64", PLY_FLOAT64, Scalar::F64},
};

const TypeName* find_type(std::string_view name) {
    for (const TypeName& t : kTypeNames)
        if (t.name == name) return &t;
    return nullptr;
}

// The keywords after the magic line; the first word of a line is matched
// against them exactly. "ply" is not among them: it is only meaningful as the
// first line, and free-text lines such as "PLY file written by ..." exist.
constexpr const char* kKeywords[] = {"format",  "comment",  "obj_info",
                                     "element", "property", "end_header"};

// The keyword `word` spells in another case ("Element"), or null.
const char* keyword_in_other_case(std::string_view word) {
    for (const char* keyword : kKeywords) {
        std::string_view k(keyword);
        if (k.size() != word.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < k.size() && same; ++i) {
            char c = word[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            same = c == k[i];
        }
        if (same) return keyword;
    }
    return nullptr;
}

// ---------------------------------------------------------------- lines

struct HeaderLine {
    std::vector<std::string_view> words;
    std::size_t number = 0;
    bool at_eof = false;  // no line was left
};

class HeaderScanner {
public:
    HeaderScanner(const char* data, std::size_t size) : data_(data), size_(size) {}

    // Splits the next line into words; `pos()` is then just past its line end.
    HeaderLine next() {
        HeaderLine line;
        line.number = ++line_number_;
        if (pos_ >= size_) {
            line.at_eof = true;
            return line;
        }
        const char* begin = data_ + pos_;
        const void* nl = std::memchr(begin, '\n', size_ - pos_);
        std::size_t len = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - begin)
                             : size_ - pos_;
        pos_ += len + (nl ? 1 : 0);
        std::size_t i = 0;
        while (i < len) {
            while (i < len && is_space(begin[i])) ++i;
            std::size_t start = i;
            while (i < len && !is_space(begin[i])) ++i;
            if (i > start) line.words.emplace_back(begin + start, i - start);
        }
        return line;
    }

    std::size_t pos() const { return pos_; }

private:
    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::size_t line_number_ = 0;
};

// ---------------------------------------------------------------- declarations

// Names seen so far, for duplicate checks that stay linear on huge headers.
// The views point into the file buffer, which outlives the header pass.
struct HeaderNames {
    std::unordered_set<std::string_view> elements;
    std::unordered_set<std::string_view> properties;  // of the current element
};

// Names reach callers as C strings and are matched by value, so a control
// character (a NUL above all) would make two different names look alike.
bool check_name(p_ply ply, std::string_view name, std::size_t line_number) {
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            report(ply, "Invalid character in the name '%s' in header line %zu", shown(name).c_str(),
                   line_number);
            return false;
        }
    }
    return true;
}

bool parse_property(p_ply ply, const HeaderLine& line, HeaderNames& names) {
    const auto& w = line.words;
    if (ply->elements.empty()) {
        report(ply, "Property declared before any element in header line %zu", line.number);
        return false;
    }
    t_ply_element_& element = ply->elements.back();
    t_ply_property_ property;
    std::size_t name_at;
    if (w.size() >= 2 && w[1] == "list") {
        if (w.size() < 5) {
            report(ply, "Incomplete list property declaration in header line %zu", line.number);
            return false;
        }
        const TypeName* length = find_type(w[2]);
        const TypeName* value = find_type(w[3]);
        for (std::size_t k : {std::size_t{2}, std::size_t{3}}) {
            if (!find_type(w[k])) {
                report(ply, "Unknown type '%s' in header line %zu", shown(w[k]).c_str(),
                       line.number);
                return false;
            }
        }
        // A list length is a count: only integer types make sense for it.
        if (is_float(length->scalar)) {
            report(ply, "Invalid list length type '%s' in header line %zu (must be an integer type)",
                   shown(w[2]).c_str(), line.number);
            return false;
        }
        property.type = PLY_LIST;
        property.length_type = length->type;
        property.value_type = value->type;
        property.length = length->scalar;
        property.value = value->scalar;
        name_at = 4;
    } else {
        if (w.size() < 3) {
            report(ply, "Incomplete property declaration in header line %zu", line.number);
            return false;
        }
        const TypeName* type = find_type(w[1]);
        if (!type) {
            report(ply, "Unknown type '%s' in header line %zu", shown(w[1]).c_str(), line.number);
            return false;
        }
        property.type = property.length_type = property.value_type = type->type;
        property.value = property.length = type->scalar;
        name_at = 2;
    }
    if (w.size() > name_at + 1) {
        report(ply, "Unexpected token '%s' in header line %zu", shown(w[name_at + 1]).c_str(),
               line.number);
        return false;
    }
    if (!check_name(ply, w[name_at], line.number)) return false;
    if (!names.properties.insert(w[name_at]).second) {
        report(ply, "Duplicate property '%s' of element '%s' in header line %zu",
               shown(w[name_at]).c_str(), shown(element.name).c_str(), line.number);
        return false;
    }
    property.name.assign(w[name_at]);
    element.properties.push_back(std::move(property));
    return true;
}

bool parse_element(p_ply ply, const HeaderLine& line, HeaderNames& names) {
    const auto& w = line.words;
    if (w.size() < 3) {
        report(ply, "Incomplete element declaration in header line %zu", line.number);
        return false;
    }
    if (w.size() > 3) {
        report(ply, "Unexpected token '%s' in header line %zu", shown(w[3]).c_str(), line.number);
        return false;
    }
    long count = 0;
    auto r = std::from_chars(w[2].data(), w[2].data() + w[2].size(), count);
    if (r.ec != std::errc() || r.ptr != w[2].data() + w[2].size() || count < 0) {
        report(ply, "Invalid instance count '%s' for element '%s' in header line %zu",
               shown(w[2]).c_str(), shown(w[1]).c_str(), line.number);
        return false;
    }
    if (!check_name(ply, w[1], line.number)) return false;
    if (!names.elements.insert(w[1]).second) {
        report(ply, "Duplicate element '%s' in header line %zu", shown(w[1]).c_str(), line.number);
        return false;
    }
    names.properties.clear();
    t_ply_element_ element;
    element.name.assign(w[1]);
    element.ninstances = count;
    ply->elements.push_back(std::move(element));
    return true;
}

bool parse_format(p_ply ply, const HeaderLine& line) {
    const auto& w = line.words;
    if (ply->mode != PLY_DEFAULT) {
        report(ply, "Duplicate format line in header line %zu", line.number);
        return false;
    }
    if (w.size() < 3) {
        report(ply, "Invalid file format in header line %zu", line.number);
        return false;
    }
    if (w.size() > 3) {
        report(ply, "Unexpected token '%s' in header line %zu", shown(w[3]).c_str(), line.number);
        return false;
    }
    if (w[1] == "ascii") {
        ply->mode = PLY_ASCII;
    } else if (w[1] == "binary_little_endian") {
        ply->mode = PLY_LITTLE_ENDIAN;
    } else if (w[1] == "binary_big_endian") {
        ply->mode = PLY_BIG_ENDIAN;
    } else {
        report(ply, "Invalid file format '%s' in header line %zu", shown(w[1]).c_str(),
               line.number);
        return false;
    }
    double version = 0;
    auto r = std::from_chars(w[2].data(), w[2].data() + w[2].size(), version);
    if (r.ec != std::errc() || r.ptr != w[2].data() + w[2].size() || version != 1.0) {
        report(ply, "Unsupported format version '%s' in header line %zu", shown(w[2]).c_str(),
               line.number);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- declared counts

// Smallest number of body bytes one instance can take. ASCII: every value is
// at least one character plus a separator (a list contributes its length).
std::uint64_t min_record_size(const t_ply_element_& element, bool ascii) {
    std::uint64_t bytes = 0;
    for (const t_ply_property_& p : element.properties)
        bytes += ascii ? 2 : size_of(p.type == PLY_LIST ? p.length : p.value);
    return bytes;
}

// Rejects declared counts the rest of the file cannot hold, so a caller may
// size its arrays from ply_set_read_cb's answer.
bool check_counts(p_ply ply) {
    const bool ascii = ply->mode == PLY_ASCII;
    const std::uint64_t left = ply->size - ply->body;
    // The last ASCII value needs no separator after it.
    const std::uint64_t budget = ascii ? left + 1 : left;
    std::uint64_t needed = 0;
    for (const t_ply_element_& element : ply->elements) {
        std::uint64_t record = min_record_size(element, ascii);
        std::uint64_t total = sat_add(needed, sat_mul(record, static_cast<std::uint64_t>(element.ninstances)));
        if (total > budget) {
            if (needed == 0)
                report(ply,
                       "Element '%s' declares %ld instances of at least %llu bytes each but the "
                       "file holds only %llu bytes after the header",
                       shown(element.name).c_str(), element.ninstances,
                       static_cast<unsigned long long>(record), static_cast<unsigned long long>(left));
            else
                report(ply,
                       "Element '%s' declares %ld instances of at least %llu bytes each but only "
                       "%llu of the %llu bytes after the header remain for it",
                       shown(element.name).c_str(), element.ninstances,
                       static_cast<unsigned long long>(record),
                       static_cast<unsigned long long>(left > needed ? left - needed : 0),
                       static_cast<unsigned long long>(left));
            return false;
        }
        needed = total;
    }
    return true;
}

}  // namespace

bool read_header(p_ply ply) {
    HeaderScanner scanner(ply->data, ply->size);
    HeaderNames names;
    HeaderLine line = scanner.next();
    if (line.at_eof || line.words.size() != 1 || line.words[0] != "ply" ||
        line.words[0].data() != ply->data) {
        report(ply, "Not a PLY file. Expected magic number 'ply\\n'");
        return false;
    }
    for (;;) {
        line = scanner.next();
        if (line.at_eof) {
            report(ply, "Unexpected end of file in the header (no end_header line)");
            return false;
        }
        const auto& w = line.words;
        if (w.empty() || w[0] == "comment" || w[0] == "obj_info") continue;
        if (w[0] == "format") {
            if (!ply->elements.empty()) {
                report(ply, "The format line in header line %zu comes after the first element",
                       line.number);
                return false;
            }
            if (!parse_format(ply, line)) return false;
        } else if (w[0] == "element") {
            if (!parse_element(ply, line, names)) return false;
        } else if (w[0] == "property") {
            if (!parse_property(ply, line, names)) return false;
        } else if (w[0] == "end_header") {
            if (w.size() > 1) {
                report(ply, "Unexpected token '%s' in header line %zu", shown(w[1]).c_str(),
                       line.number);
                return false;
            }
            break;
        } else if (const char* keyword = keyword_in_other_case(w[0])) {
            // Read as free text, "Element face 4" would silently drop the
            // element. A comment keyword in another case loses nothing.
            if (std::strcmp(keyword, "comment") != 0 && std::strcmp(keyword, "obj_info") != 0) {
                report(ply, "The keyword '%s' in header line %zu must be written '%s'",
                       shown(w[0]).c_str(), line.number, keyword);
                return false;
            }
            warn(ply, "header line %zu: '%s' read as the keyword '%s'", line.number,
                 shown(w[0]).c_str(), keyword);
        } else {
            // Free text: some exporters write lines such as "Created by
            // Blender3D 247" without the comment keyword.
            warn(ply, "header line %zu has no keyword and is read as a comment: '%s'",
                 line.number, shown(w[0]).c_str());
        }
    }
    if (ply->mode == PLY_DEFAULT) {
        report(ply, "Invalid file format: the header has no format line");
        return false;
    }
    ply->body = scanner.pos();
    return check_counts(ply);
}

}  // namespace ply_reader
