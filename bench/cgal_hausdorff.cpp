// Timing baseline, not part of meshqem: CGAL's certified one-sided Hausdorff
// distance (Polygon_mesh_processing::bounded_error_Hausdorff_distance, Tang,
// Lee and Kim 2009) at an error bound relative to the diagonal of the union
// of both bounding boxes, each direction timed alone (its tree builds
// included), `runs` times; prints the median seconds and the value.
//   meshqem_cgal_hausdorff A.ply B.ply RELATIVE_ERROR RUNS
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

// The kernel first: CGAL 5.5's distance.h calls midpoint unqualified and
// finds it only when the kernel's global functions are already declared.
#include <CGAL/Simple_cartesian.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/IO/PLY.h>
#include <CGAL/Polygon_mesh_processing/distance.h>
#include <CGAL/Polygon_mesh_processing/polygon_soup_to_polygon_mesh.h>

using Kernel = CGAL::Simple_cartesian<double>;
using Point = Kernel::Point_3;
using SurfaceMesh = CGAL::Surface_mesh<Point>;
namespace PMP = CGAL::Polygon_mesh_processing;

bool read(const char* path, SurfaceMesh& mesh, double lo[3], double hi[3])
{
    std::ifstream in(path, std::ios::binary);
    std::vector<Point> points;
    std::vector<std::vector<std::size_t>> polygons;
    if (!in || !CGAL::IO::read_PLY(in, points, polygons))
        return false;
    for (const Point& p : points)
        for (int i = 0; i < 3; ++i)
            lo[i] = std::min(lo[i], p[i]), hi[i] = std::max(hi[i], p[i]);
    PMP::polygon_soup_to_polygon_mesh(points, polygons, mesh);
    return true;
}

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int main(int argc, char** argv)
{
    SurfaceMesh a, b;
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    if (argc < 5 || !read(argv[1], a, lo, hi) || !read(argv[2], b, lo, hi)) {
        std::fprintf(stderr, "usage: meshqem_cgal_hausdorff A.ply B.ply RELATIVE_ERROR RUNS\n");
        return 1;
    }
    const double diagonal = std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) +
                                      (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                      (hi[2] - lo[2]) * (hi[2] - lo[2]));
    const double error = std::atof(argv[3]) * diagonal;
    const int runs = std::max(1, std::atoi(argv[4]));
    for (int direction = 0; direction < 2; ++direction) {
        const SurfaceMesh& from = direction ? b : a;
        const SurfaceMesh& to = direction ? a : b;
        std::vector<double> times;
        double value = 0;
        for (int r = 0; r < runs; ++r) {
            const double start = seconds();
            value = PMP::bounded_error_Hausdorff_distance<CGAL::Sequential_tag>(from, to, error);
            times.push_back(seconds() - start);
        }
        std::sort(times.begin(), times.end());
        std::printf("cgal %s %.6f s (min %.6f, max %.6f) value %.9g error %.9g\n",
                    direction ? "B->A" : "A->B", times[times.size() / 2], times.front(),
                    times.back(), value, error);
    }
    return 0;
}
