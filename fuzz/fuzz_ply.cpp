// libFuzzer target: any bytes through the PLY reader (every property of every
// element registered) and through the mesh loader; a mesh that loads must be
// consistent, and small ones go through the whole comparison, by planes and
// by surfaces (against the copy the plane comparison scaled).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ply/ply_mesh.h"
#include "ply/reader.h"
#include "qem/comparison.h"
#include "qem/normalize.h"
#include "surface/hausdorff.h"
#include "surface/sampling.h"
#include "surface/surface_comparison.h"

namespace {

void ignoreError(p_ply, const char*) {}

int touchValue(p_ply_argument argument)
{
    long length = 0, value_index = 0, instance = 0;
    ply_get_argument_property(argument, nullptr, &length, &value_index);
    ply_get_argument_element(argument, nullptr, &instance);
    volatile double value = ply_get_argument_value(argument);
    (void)value;
    return 1;
}

void readEveryProperty(const char* data, std::size_t size)
{
    p_ply ply = ply_open_from_memory(data, size, ignoreError, 0, nullptr);
    ply_set_warning_cb(ply, ignoreError);
    if (ply && ply_read_header(ply)) {
        // Copy the names first: registering must not depend on their storage.
        std::vector<std::pair<std::string, std::string>> names;
        for (p_ply_element element = ply_get_next_element(ply, nullptr); element;
             element = ply_get_next_element(ply, element)) {
            const char* elementName = nullptr;
            ply_get_element_info(element, &elementName, nullptr);
            for (p_ply_property property = ply_get_next_property(element, nullptr); property;
                 property = ply_get_next_property(element, property)) {
                const char* propertyName = nullptr;
                ply_get_property_info(property, &propertyName, nullptr, nullptr, nullptr);
                names.emplace_back(elementName, propertyName);
            }
        }
        for (const auto& [element, property] : names)
            ply_set_read_cb(ply, element.c_str(), property.c_str(), touchValue, nullptr, 0);
        ply_read(ply);
    }
    ply_close(ply);
}

void loadAndCompare(const char* data, std::size_t size)
{
    Mesh mesh;
    std::string error;
    if (!loadPlyMeshFromMemory(data, size, mesh, error, ignoreError, ignoreError)) {
        if (mesh.vertexCount() != 0 || mesh.faceCount() != 0 || error.empty())
            __builtin_trap();
        return;
    }
    for (const Face& face : mesh.faces)
        for (std::uint32_t index : face.vertices)
            if (index >= mesh.vertexCount())
                __builtin_trap();
    if (mesh.vertexCount() == 0 || mesh.vertexCount() * (mesh.faceCount() + 1) > 4096)
        return;
    Mesh first = mesh, second = mesh;
    if (normalizeMeshes(first, second).any())
        return;
    compareMeshes(first, second);

    // What --surface accepts: faces with some area, on both meshes. The
    // error bound is 1 % of the diagonal, or the least the rounding allows.
    if (!(meshArea(mesh) > 0.0 && meshArea(first) > 0.0))
        return;
    const double diagonal = surfaceDiagonal(mesh, first);
    SurfaceOptions options;
    options.hausdorffError = std::max(0.01 * diagonal, smallestHausdorffError(mesh, first));
    options.reconstruction = true;
    options.taus = {0.01 * diagonal};
    const SurfaceComparison result = compareSurfaces(mesh, first, 64, options);
    // The interval holds the sampled maximum, up to the routine's rounding.
    if (!(result.certified->lower <= result.certified->upper) ||
        !(result.hausdorffLower <= result.certified->upper + 1e-9 * diagonal))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    readEveryProperty(bytes, size);
    loadAndCompare(bytes, size);
    return 0;
}
