// Timing baseline, not part of meshqem: the closest-surface question that
// established comparison tools answer, with CGAL's AABB tree. For every vertex
// of each mesh the squared distance to the closest point of the other mesh's
// triangles, both directions, whole process (load, build, query), so
// bench/run_real.sh can set meshqem's whole run beside it.
//   meshqem_cgal_closest A.ply B.ply
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/AABB_triangle_primitive.h>
#include <CGAL/Simple_cartesian.h>
#include <CGAL/IO/PLY.h>

using Kernel = CGAL::Simple_cartesian<double>;
using Point = Kernel::Point_3;
using Triangle = Kernel::Triangle_3;
using Iterator = std::vector<Triangle>::const_iterator;
using Primitive = CGAL::AABB_triangle_primitive<Kernel, Iterator>;
using Tree = CGAL::AABB_tree<CGAL::AABB_traits<Kernel, Primitive>>;

struct Soup {
    std::vector<Point> points;
    std::vector<std::vector<std::size_t>> polygons;
    std::vector<Triangle> triangles;
};

bool read(const char* path, Soup& soup)
{
    std::ifstream in(path, std::ios::binary);
    if (!in || !CGAL::IO::read_PLY(in, soup.points, soup.polygons))
        return false;
    for (const auto& p : soup.polygons)
        if (p.size() == 3)
            soup.triangles.emplace_back(soup.points[p[0]], soup.points[p[1]], soup.points[p[2]]);
    return true;
}

double sumOfDistances(const std::vector<Point>& queries, const std::vector<Triangle>& triangles)
{
    Tree tree(triangles.begin(), triangles.end());
    tree.accelerate_distance_queries();
    double sum = 0;
    for (const Point& q : queries)
        sum += std::sqrt(tree.squared_distance(q));
    return sum;
}

int main(int argc, char** argv)
{
    Soup a, b;
    if (argc < 3 || !read(argv[1], a) || !read(argv[2], b)) {
        std::fprintf(stderr, "usage: meshqem_cgal_closest A.ply B.ply\n");
        return 1;
    }
    std::printf("%f\n%f\n", sumOfDistances(a.points, b.triangles), sumOfDistances(b.points, a.triangles));
    return 0;
}
