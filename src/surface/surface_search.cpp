#include "surface/surface_search.h"

#include "surface/surface_distance.h"

NearestSurfaceSearch::NearestSurfaceSearch(const Mesh& target, SearchMode mode)
    : target_(target), mode_(mode)
{
}

void NearestSurfaceSearch::distances(const std::vector<Point3d>& points, std::vector<double>& out)
{
    surfaceDistancesExhaustive(points, target_, out);
}
