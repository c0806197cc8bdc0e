// The public functions: a reader's life (open, header, handlers, body,
// close) and the header introspection. The work is done in file_map, header
// and body.
#include "ply/reader.h"

#include <cerrno>
#include <new>

#include "ply/body.h"
#include "ply/header.h"
#include "ply/reader_internal.h"

using ply_reader::report;

namespace {

p_ply make_ply(p_ply_error_cb error_cb, long idata, void* pdata) {
    p_ply ply = new (std::nothrow) t_ply_();
    if (!ply) {
        (error_cb ? error_cb : ply_reader::default_error_cb)(nullptr, "Unable to open file");
        errno = ENOMEM;
        return nullptr;
    }
    if (error_cb) ply->error_cb = error_cb;
    ply->idata = idata;
    ply->pdata = pdata;
    return ply;
}

// Loads the bytes with `load` (a FileMap member call); on failure reports,
// frees the reader and leaves the reason in errno. `name` is how warnings
// name the input.
template <class Load>
p_ply open_with(p_ply ply, const char* name, Load load) {
    if (!ply) return nullptr;
    bool ok = false;
    int reason = ENOMEM;
    try {
        ok = load(ply->file);
        reason = ply->file.error();
        if (ok) ply->name = name;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        // The handler still sees a live reader, so it can reach its user data.
        report(ply, "Unable to open file");
        delete ply;
        errno = reason;
        return nullptr;
    }
    ply->data = ply->file.data();
    ply->size = ply->file.size();
    return ply;
}

}  // namespace

p_ply ply_open(const char* name, p_ply_error_cb error_cb, long idata, void* pdata) {
    if (!name) {
        p_ply ply = make_ply(error_cb, idata, pdata);
        if (ply) report(ply, "Unable to open file");
        delete ply;
        errno = EINVAL;
        return nullptr;
    }
    return open_with(make_ply(error_cb, idata, pdata), name,
                     [name](ply_reader::FileMap& file) { return file.load(name); });
}

p_ply ply_open_fd(int fd, p_ply_error_cb error_cb, long idata, void* pdata) {
    return open_with(make_ply(error_cb, idata, pdata), "standard input",
                     [fd](ply_reader::FileMap& file) { return file.load_descriptor(fd); });
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

int ply_set_warning_cb(p_ply ply, p_ply_error_cb warning_cb) {
    if (!ply) return 0;
    ply->warning_cb = warning_cb ? warning_cb : ply_reader::default_warning_cb;
    return 1;
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

long ply_set_block_cb(p_ply ply, const char* element_name, p_ply_block_cb block_cb,
                      void* pdata) {
    if (!ply || !element_name) return 0;
    for (t_ply_element_& element : ply->elements) {
        if (element.name != element_name) continue;
        element.block_cb = block_cb;
        element.block_pdata = pdata;
        return element.ninstances;
    }
    return 0;
}

const t_ply_field_* ply_get_block_field(p_ply_block block, const char* property_name) {
    if (!block || !property_name) return nullptr;
    const std::vector<t_ply_property_>& properties = block->element->properties;
    for (std::size_t k = 0; k < properties.size(); ++k)
        if (properties[k].name == property_name) return &block->fields[k];
    return nullptr;
}

int ply_read(p_ply ply) {
    if (!ply) return 0;
    if (ply->state != t_ply_::State::header_read) {
        report(ply, "ply_read needs a successfully read header and runs only once");
        return 0;
    }
    ply->state = t_ply_::State::finished;
    try {
        return ply_reader::read_body(ply) ? 1 : 0;
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
