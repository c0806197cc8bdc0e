#include "query/strategy.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMinIndexedFaces = 64;
constexpr std::size_t kMinIndexedQueries = 32;

} // namespace

SearchMode searchModeFromEnvironment()
{
    static const SearchMode mode = [] {
        const char* value = std::getenv("MESHQEM_SEARCH");
        if (value && std::strcmp(value, "exhaustive") == 0)
            return SearchMode::exhaustive;
        if (value && std::strcmp(value, "portable") == 0)
            return SearchMode::portable;
        return SearchMode::automatic;
    }();
    return mode;
}

bool indexPaysOff(std::size_t queries, std::size_t faces)
{
    return faces >= kMinIndexedFaces && queries >= kMinIndexedQueries;
}

bool indexPaysOff(std::size_t queries, std::size_t faces, const SearchCosts& costs)
{
    const double q = double(queries), f = double(faces);
    const double scan = q * f * costs.scanPerPair;
    const double index =
        f * costs.buildPerFace + q * (costs.searchBase + costs.searchPerRootFace * std::sqrt(f));
    return index < scan;
}
