// The public functions: a reader's life (open, header, handlers, body,
// close) and the header introspection, with the body reader (still one class
// here, its own module next). Mapping the file and the header are in file_map
// and header.
#include "ply/reader.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "ply/ascii_number.h"
#include "ply/header.h"
#include "ply/reader_internal.h"
#include "ply/saturating.h"
#include "ply/text.h"

namespace ply_reader {
namespace {

// One registered or skipped property, flattened for the body loops.
struct Step {
    Scalar value;
    Scalar length;
    bool list;
    unsigned value_size;
    p_ply_read_cb cb;
    void* pdata;
    long idata;
    p_ply_property property;
};

class BodyReader {
public:
    explicit BodyReader(p_ply ply) : ply_(ply), end_(ply->data + ply->size) {}

    bool read() {
        const char* p = ply_->data + ply_->body;
        const bool swap = ply_->mode != PLY_ASCII &&
                          ((ply_->mode == PLY_BIG_ENDIAN) !=
                           (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__));
        for (t_ply_element_& element : ply_->elements) {
            if (element.properties.empty()) continue;  // nothing to read or deliver
            plan(element);
            arg_ = t_ply_argument_();
            arg_.element = &element;
            bool ok = ply_->mode == PLY_ASCII ? read_ascii(element, p)
                      : swap                  ? read_binary<true>(element, p)
                                              : read_binary<false>(element, p);
            if (!ok) return false;
        }
        return true;  // trailing bytes are tolerated
    }

private:
    void plan(t_ply_element_& element) {
        steps_.clear();
        handlers_ = false;
        for (t_ply_property_& p : element.properties) {
            Step s{p.value, p.length, p.type == PLY_LIST, size_of(p.value),
                   p.read_cb, p.pdata, p.idata, &p};
            handlers_ = handlers_ || p.read_cb;
            steps_.push_back(s);
        }
    }

    bool deliver(const Step& s, double value) {
        arg_.value = value;
        if (s.cb(&arg_)) return true;
        report(ply_, "Reading aborted by the handler of '%s' of '%s' number %ld",
               shown(s.property->name).c_str(), shown(arg_.element->name).c_str(),
               arg_.instance_index);
        return false;
    }

    void enter(const Step& s, long length, long index) {
        arg_.property = s.property;
        arg_.pdata = s.pdata;
        arg_.idata = s.idata;
        arg_.length = length;
        arg_.value_index = index;
    }

    // "Error reading ..." naming the value: entry < 0 is the property itself
    // (a scalar or a list length), otherwise a list entry counted from 0.
    void value_error(const Step& s, long entry, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));

    bool list_too_long(const Step& s, std::uint64_t length, std::uint64_t min_bytes) {
        std::uint64_t left = static_cast<std::uint64_t>(end_ - pos_);
        if (sat_mul(length, min_bytes) <= left) return false;
        report(ply_,
               "List length %llu of '%s' of '%s' number %ld exceeds what the %llu bytes left in "
               "the file can hold",
               static_cast<unsigned long long>(length), shown(s.property->name).c_str(),
               shown(arg_.element->name).c_str(), arg_.instance_index,
               static_cast<unsigned long long>(left));
        return true;
    }

    void negative_list(const Step& s, const char* length) {
        report(ply_, "Invalid list length %s in '%s' of '%s' number %ld", length,
               shown(s.property->name).c_str(), shown(arg_.element->name).c_str(),
               arg_.instance_index);
    }

    // ---- binary

    template <bool Swap>
    static inline __attribute__((always_inline)) double load(Scalar s, const char* p) {
        switch (s) {
            case Scalar::I8: return static_cast<signed char>(*p);
            case Scalar::U8: return static_cast<unsigned char>(*p);
            case Scalar::I16: {
                std::uint16_t u;
                std::memcpy(&u, p, 2);
                if (Swap) u = __builtin_bswap16(u);
                std::int16_t v;
                std::memcpy(&v, &u, 2);
                return v;
            }
            case Scalar::U16: {
                std::uint16_t u;
                std::memcpy(&u, p, 2);
                if (Swap) u = __builtin_bswap16(u);
                return u;
            }
            case Scalar::I32: {
                std::uint32_t u;
                std::memcpy(&u, p, 4);
                if (Swap) u = __builtin_bswap32(u);
                std::int32_t v;
                std::memcpy(&v, &u, 4);
                return v;
            }
            case Scalar::U32: {
                std::uint32_t u;
                std::memcpy(&u, p, 4);
                if (Swap) u = __builtin_bswap32(u);
                return u;
            }
            case Scalar::F32: {
                std::uint32_t u;
                std::memcpy(&u, p, 4);
                if (Swap) u = __builtin_bswap32(u);
                float v;
                std::memcpy(&v, &u, 4);
                return v;
            }
            case Scalar::F64: {
                std::uint64_t u;
                std::memcpy(&u, p, 8);
                if (Swap) u = __builtin_bswap64(u);
                double v;
                std::memcpy(&v, &u, 8);
                return v;
            }
        }
        return 0.0;
    }

    // List entries with the type switch hoisted out of the loop.
    template <bool Swap, Scalar S>
    bool entries_of(const Step& s, long length) {
        constexpr unsigned size = kScalarSize[static_cast<int>(S)];
        for (long k = 0; k < length; ++k, pos_ += size) {
            arg_.value_index = k;
            if (!deliver(s, load<Swap>(S, pos_))) return false;
        }
        return true;
    }

    template <bool Swap>
    bool list_entries(const Step& s, long length) {
        switch (s.value) {
            case Scalar::I8: return entries_of<Swap, Scalar::I8>(s, length);
            case Scalar::U8: return entries_of<Swap, Scalar::U8>(s, length);
            case Scalar::I16: return entries_of<Swap, Scalar::I16>(s, length);
            case Scalar::U16: return entries_of<Swap, Scalar::U16>(s, length);
            case Scalar::I32: return entries_of<Swap, Scalar::I32>(s, length);
            case Scalar::U32: return entries_of<Swap, Scalar::U32>(s, length);
            case Scalar::F32: return entries_of<Swap, Scalar::F32>(s, length);
            case Scalar::F64: return entries_of<Swap, Scalar::F64>(s, length);
        }
        return false;
    }

    // A registered scalar at a fixed offset in its instance's record.
    struct Slot {
        std::size_t offset;
        const Step* step;
    };

    // Scalars only, all in the file: instances are records of one size, so
    // nothing is bounds-checked per value and skipped properties cost nothing.
    template <bool Swap>
    bool read_fixed(long count, std::size_t record, const char*& p) {
        slots_.clear();
        std::size_t offset = 0;
        bool uniform = true;
        for (const Step& s : steps_) {
            if (s.cb) {
                uniform = uniform && (slots_.empty() || s.value == slots_[0].step->value);
                slots_.push_back({offset, &s});
            }
            offset += s.value_size;
        }
        constexpr int f32 = static_cast<int>(Scalar::F32), f64 = static_cast<int>(Scalar::F64);
        const int type = uniform ? static_cast<int>(slots_[0].step->value) : kMixed;
        const bool ok = type == f32   ? fixed_records<Swap, f32>(count, record)
                        : type == f64 ? fixed_records<Swap, f64>(count, record)
                                      : fixed_records<Swap, kMixed>(count, record);
        if (!ok) return false;
        p = pos_ + record * static_cast<std::size_t>(count);
        return true;
    }

    static constexpr int kMixed = -1;

    // T is the scalar type every slot has, or kMixed.
    template <bool Swap, int T>
    bool fixed_records(long count, std::size_t record) {
        arg_.length = 1;
        arg_.value_index = 0;
        const char* base = pos_;
        for (long i = 0; i < count; ++i, base += record) {
            arg_.instance_index = i;
            for (const Slot& slot : slots_) {
                const Step& s = *slot.step;
                arg_.property = s.property;
                arg_.pdata = s.pdata;
                arg_.idata = s.idata;
                const Scalar type = T == kMixed ? s.value : static_cast<Scalar>(T);
                if (!deliver(s, load<Swap>(type, base + slot.offset))) return false;
            }
        }
        return true;
    }

    template <bool Swap>
    bool read_binary(t_ply_element_& element, const char*& p) {
        pos_ = p;
        const long count = element.ninstances;
        bool fixed = true;
        std::uint64_t record = 0;
        for (const Step& s : steps_) {
            fixed = fixed && !s.list;
            record += s.value_size;
        }
        if (fixed && !handlers_) {
            // Whole element skipped: one jump (the header check bounds it, but
            // earlier lists may have used more than their minimum).
            std::uint64_t bytes = sat_mul(record, static_cast<std::uint64_t>(count));
            const std::uint64_t left = static_cast<std::uint64_t>(end_ - pos_);
            if (bytes > left) {
                // Name the first value that is cut off.
                arg_.instance_index = static_cast<long>(left / record);
                std::uint64_t offset = left % record;
                std::size_t k = 0;
                while (offset >= steps_[k].value_size) offset -= steps_[k++].value_size;
                value_error(steps_[k], -1, "unexpected end of file");
                return false;
            }
            p = pos_ + bytes;
            return true;
        }
        if (fixed && sat_mul(record, static_cast<std::uint64_t>(count)) <=
                         static_cast<std::uint64_t>(end_ - pos_))
            return read_fixed<Swap>(count, record, p);
        bool ok = steps_.size() == 1 && steps_[0].list && steps_[0].cb
                      ? one_list<Swap>(count)
                      : checked_records<Swap>(0, count);
        if (!ok) return false;
        p = pos_;
        return true;
    }

    // An element that is just one registered list (faces, nearly always):
    // the types are template arguments and each instance is bounds-checked
    // once. Anything irregular hands over to checked_records at that
    // instance, which finds and names the problem.
    template <bool Swap>
    bool one_list(long count) {
        using S = Scalar;
        const Step& s = steps_[0];
        if (s.length == S::U8 && s.value == S::I32) return list_records<Swap, S::U8, S::I32>(count);
        if (s.length == S::U8 && s.value == S::U32) return list_records<Swap, S::U8, S::U32>(count);
        if (s.length == S::I8 && s.value == S::I32) return list_records<Swap, S::I8, S::I32>(count);
        return checked_records<Swap>(0, count);
    }

    template <bool Swap, Scalar L, Scalar V>
    bool list_records(long count) {
        constexpr std::size_t lsize = kScalarSize[static_cast<int>(L)];
        constexpr std::size_t vsize = kScalarSize[static_cast<int>(V)];
        const Step& s = steps_[0];
        arg_.property = s.property;
        arg_.pdata = s.pdata;
        arg_.idata = s.idata;
        for (long i = 0; i < count; ++i) {
            const std::size_t left = static_cast<std::size_t>(end_ - pos_);
            if (left < lsize) return checked_records<Swap>(i, count);
            const double raw = load<Swap>(L, pos_);
            // Non-negative and in the file: the test is false for negatives.
            if (!(raw >= 0 && raw * vsize <= static_cast<double>(left - lsize)))
                return checked_records<Swap>(i, count);
            const long length = static_cast<long>(raw);
            pos_ += lsize;
            arg_.instance_index = i;
            arg_.length = length;
            arg_.value_index = -1;
            if (!deliver(s, raw)) return false;
            for (long k = 0; k < length; ++k, pos_ += vsize) {
                arg_.value_index = k;
                if (!deliver(s, load<Swap>(V, pos_))) return false;
            }
        }
        return true;
    }

    // Every value bounds-checked: lists, or a scalar element the file cuts
    // short, so that an error names the first value missing.
    template <bool Swap>
    bool checked_records(long first, long count) {
        for (long i = first; i < count; ++i) {
            arg_.instance_index = i;
            for (const Step& s : steps_) {
                if (!s.list) {
                    if (static_cast<std::size_t>(end_ - pos_) < s.value_size) {
                        value_error(s, -1, "unexpected end of file");
                        return false;
                    }
                    if (s.cb) {
                        enter(s, 1, 0);
                        if (!deliver(s, load<Swap>(s.value, pos_))) return false;
                    }
                    pos_ += s.value_size;
                    continue;
                }
                const unsigned lsize = size_of(s.length);
                if (static_cast<std::size_t>(end_ - pos_) < lsize) {
                    value_error(s, -1, "unexpected end of file");
                    return false;
                }
                // Integer length types only, so the double is exact.
                double raw = load<Swap>(s.length, pos_);
                pos_ += lsize;
                if (raw < 0) {
                    negative_list(s, std::to_string(static_cast<long long>(raw)).c_str());
                    return false;
                }
                const long length = static_cast<long>(raw);
                if (list_too_long(s, static_cast<std::uint64_t>(length), s.value_size)) return false;
                if (!s.cb) {
                    pos_ += static_cast<std::size_t>(length) * s.value_size;
                    continue;
                }
                enter(s, length, -1);
                if (!deliver(s, raw)) return false;
                if (!list_entries<Swap>(s, length)) return false;
            }
        }
        return true;
    }

    // ---- ascii

    // Whitespace-separated token at pos_, or an empty view at the end.
    std::string_view token() {
        const char* p = pos_;
        while (p < end_ && is_space(*p)) ++p;
        const char* b = p;
        while (p < end_ && !is_space(*p)) ++p;
        pos_ = p;
        return std::string_view(b, static_cast<std::size_t>(p - b));
    }

    // Flattened, as is ascii_length: the integer parse inside quick_number
    // must be inlined here, and the compiler's size limits leave it out of
    // line otherwise (15 % slower on whole ASCII files).
    __attribute__((flatten)) bool ascii_value(const Step& s, Scalar type, long entry, double& out) {
        if (const char* next = quick_number(type, pos_, end_, out)) {
            pos_ = next;
            return true;
        }
        std::string_view t = token();
        if (t.empty()) {
            value_error(s, entry, "unexpected end of file");
            return false;
        }
        switch (parse_number(type, t, out)) {
            case NumberStatus::ok: return true;
            case NumberStatus::invalid:
                value_error(s, entry, "invalid number '%s'", shown(t).c_str());
                return false;
            case NumberStatus::out_of_range:
                value_error(s, entry, "%s is out of range for %s", shown(t).c_str(), name_of(type));
                return false;
        }
        return false;
    }

    // A list length: an integer in its type's range and not negative.
    __attribute__((flatten)) bool ascii_length(const Step& s, double& out) {
        const char* next = quick_number(s.length, pos_, end_, out);
        if (next && out >= 0) {
            pos_ = next;
            return true;
        }
        std::string_view t = token();
        if (t.empty()) {
            value_error(s, -1, "unexpected end of file");
            return false;
        }
        NumberStatus r = parse_number(s.length, t, out);
        double wide = 0;
        if ((r == NumberStatus::ok && out < 0) ||
            (r == NumberStatus::out_of_range &&
             parse_number(Scalar::F64, t, wide) == NumberStatus::ok && wide < 0)) {
            negative_list(s, shown(t).c_str());
            return false;
        }
        if (r == NumberStatus::invalid) value_error(s, -1, "invalid number '%s'", shown(t).c_str());
        if (r == NumberStatus::out_of_range)
            value_error(s, -1, "%s is out of range for %s", shown(t).c_str(), name_of(s.length));
        return r == NumberStatus::ok;
    }

    bool skip_ascii(const Step& s, long entry) {
        if (!token().empty()) return true;
        value_error(s, entry, "unexpected end of file");
        return false;
    }

    bool read_ascii(t_ply_element_& element, const char*& p) {
        pos_ = p;
        const long count = element.ninstances;
        double value = 0;
        for (long i = 0; i < count; ++i) {
            arg_.instance_index = i;
            for (const Step& s : steps_) {
                if (!s.list) {
                    if (!s.cb) {
                        if (!skip_ascii(s, -1)) return false;
                        continue;
                    }
                    if (!ascii_value(s, s.value, -1, value)) return false;
                    enter(s, 1, 0);
                    if (!deliver(s, value)) return false;
                    continue;
                }
                if (!ascii_length(s, value)) return false;
                const long length = static_cast<long>(value);
                if (list_too_long(s, static_cast<std::uint64_t>(length), 2)) return false;
                if (s.cb) {
                    enter(s, length, -1);
                    if (!deliver(s, value)) return false;
                }
                for (long k = 0; k < length; ++k) {
                    if (!s.cb) {
                        if (!skip_ascii(s, k)) return false;
                        continue;
                    }
                    if (!ascii_value(s, s.value, k, value)) return false;
                    arg_.value_index = k;
                    if (!deliver(s, value)) return false;
                }
            }
        }
        p = pos_;
        return true;
    }

    p_ply ply_;
    const char* const end_;
    const char* pos_ = nullptr;
    std::vector<Step> steps_;
    std::vector<Slot> slots_;
    bool handlers_ = false;
    t_ply_argument_ arg_{};
};

void BodyReader::value_error(const Step& s, long entry, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char reason[512];
    std::vsnprintf(reason, sizeof reason, fmt, ap);
    va_end(ap);
    std::string property = shown(s.property->name);
    std::string element = shown(arg_.element->name);
    if (entry < 0)
        report(ply_, "Error reading '%s' of '%s' number %ld: %s", property.c_str(),
               element.c_str(), arg_.instance_index, reason);
    else
        report(ply_, "Error reading value number %ld of '%s' of '%s' number %ld: %s", entry + 1,
               property.c_str(), element.c_str(), arg_.instance_index, reason);
}

}  // namespace
}  // namespace ply_reader

using ply_reader::report;

namespace {

p_ply make_ply(p_ply_error_cb error_cb, long idata, void* pdata) {
    p_ply ply = new (std::nothrow) t_ply_();
    if (!ply) {
        (error_cb ? error_cb : ply_reader::default_error_cb)(nullptr, "Unable to open file");
        return nullptr;
    }
    if (error_cb) ply->error_cb = error_cb;
    ply->idata = idata;
    ply->pdata = pdata;
    return ply;
}

}  // namespace

p_ply ply_open(const char* name, p_ply_error_cb error_cb, long idata, void* pdata) {
    p_ply ply = make_ply(error_cb, idata, pdata);
    if (!ply) return nullptr;
    bool ok = false;
    try {
        ok = name && ply->file.load(name);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        // The handler still sees a live reader, so it can reach its user data.
        report(ply, "Unable to open file");
        delete ply;
        return nullptr;
    }
    ply->data = ply->file.data();
    ply->size = ply->file.size();
    return ply;
}
p_ply ply_open_from_memory(const char* data, std::size_t size, p_ply_error_cb error_cb,
                           long idata, void* pdata) {
    p_ply ply = make_ply(error_cb, idata, pdata);
    if (!ply) return nullptr;
    if (!data && size > 0) {
        report(ply, "Unable to open file");
        delete ply;
        return nullptr;
    }
    ply->data = data;
    ply->size = data ? size : 0;
    return ply;
}

int ply_get_ply_user_data(p_ply ply, void** pdata, long* idata) {
    if (!ply) return 0;
    if (pdata) *pdata = ply->pdata;
    if (idata) *idata = ply->idata;
    return 1;
}

int ply_read_header(p_ply ply) {
    if (!ply) return 0;
    if (ply->state != t_ply_::State::opened) {
        report(ply, "The header was already read");
        return 0;
    }
    ply->state = t_ply_::State::finished;  // a failed header cannot be retried
    try {
        if (!ply_reader::read_header(ply)) {
            ply->elements.clear();
            return 0;
        }
    } catch (const std::bad_alloc&) {
        ply->elements.clear();
        report(ply, "Out of memory while reading the header");
        return 0;
    }
    ply->state = t_ply_::State::header_read;
    return 1;
}

long ply_set_read_cb(p_ply ply, const char* element_name, const char* property_name,
                     p_ply_read_cb read_cb, void* pdata, long idata) {
    if (!ply || !element_name || !property_name) return 0;
    for (t_ply_element_& element : ply->elements) {
        if (element.name != element_name) continue;
        for (t_ply_property_& property : element.properties) {
            if (property.name != property_name) continue;
            property.read_cb = read_cb;
            property.pdata = pdata;
            property.idata = idata;
            return element.ninstances;
        }
        return 0;
    }
    return 0;
}

int ply_read(p_ply ply) {
    if (!ply) return 0;
    if (ply->state != t_ply_::State::header_read) {
        report(ply, "ply_read needs a successfully read header and runs only once");
        return 0;
    }
    ply->state = t_ply_::State::finished;
    try {
        ply_reader::BodyReader reader(ply);
        return reader.read() ? 1 : 0;
    } catch (const std::bad_alloc&) {
        report(ply, "Out of memory while reading the body");
        return 0;
    }
}

int ply_close(p_ply ply) {
    delete ply;
    return 1;
}

p_ply_element ply_get_next_element(p_ply ply, p_ply_element last) {
    if (!ply || ply->elements.empty()) return nullptr;
    if (!last) return &ply->elements.front();
    std::size_t index = static_cast<std::size_t>(last - ply->elements.data());
    if (last < ply->elements.data() || index + 1 >= ply->elements.size()) return nullptr;
    return &ply->elements[index + 1];
}

int ply_get_element_info(p_ply_element element, const char** name, long* ninstances) {
    if (!element) return 0;
    if (name) *name = element->name.c_str();
    if (ninstances) *ninstances = element->ninstances;
    return 1;
}

p_ply_property ply_get_next_property(p_ply_element element, p_ply_property last) {
    if (!element || element->properties.empty()) return nullptr;
    if (!last) return &element->properties.front();
    std::size_t index = static_cast<std::size_t>(last - element->properties.data());
    if (last < element->properties.data() || index + 1 >= element->properties.size()) return nullptr;
    return &element->properties[index + 1];
}

int ply_get_property_info(p_ply_property property, const char** name, e_ply_type* type,
                          e_ply_type* length_type, e_ply_type* value_type) {
    if (!property) return 0;
    if (name) *name = property->name.c_str();
    if (type) *type = property->type;
    if (length_type) *length_type = property->length_type;
    if (value_type) *value_type = property->value_type;
    return 1;
}
