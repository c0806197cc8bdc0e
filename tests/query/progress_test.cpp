// The answered-query count behind the progress display: every search path
// counts each of its queries once, or the percentage would stop short of
// 100 or run past it.
#include <gtest/gtest.h>

#include "helpers.h"
#include "ply/ply_mesh.h"
#include "qem/comparison.h"
#include "qem/plane_search.h"
#include "query/progress.h"
#include "surface/surface_comparison.h"
#include "surface/surface_search.h"
#include "surface/sampling.h"

namespace {

Mesh load(const char* name)
{
    Mesh mesh;
    std::string error;
    EXPECT_TRUE(loadPlyMesh((std::string(MESHQEM_EXAMPLES_DIR) + "/" + name).c_str(), mesh, error))
        << error;
    return mesh;
}

TEST(QueryProgress, EverySearchCountsEachQueryOnce)
{
    const Mesh fine = load("sphere.ply"), coarse = load("sphere_coarse.ply");
    std::uint64_t before = answeredQueries();
    compareMeshes(fine, coarse);
    EXPECT_EQ(answeredQueries(), before) << "counted before counting started";

    startCountingQueries();
    for (SearchMode mode : {SearchMode::automatic, SearchMode::exhaustive, SearchMode::portable}) {
        before = answeredQueries();
        NearestPlaneSearch toFine(fine, mode), toCoarse(coarse, mode);
        compareMeshes(toFine, toCoarse);
        EXPECT_EQ(answeredQueries() - before, fine.vertexCount() + coarse.vertexCount());

        before = answeredQueries();
        NearestSurfaceSearch surface(fine, mode);
        std::vector<double> out;
        surface.distances(vertexPoints(coarse), out);
        // Points far outside the index's domain take the exhaustive loop.
        surface.distances({{1e30, 0, 0}, {0, 0, 0}, {-1e30, 1, 2}}, out);
        EXPECT_EQ(answeredQueries() - before, coarse.vertexCount() + 3);
    }

    before = answeredQueries();
    compareSurfaces(fine, coarse, 500);
    EXPECT_EQ(answeredQueries() - before, fine.vertexCount() + coarse.vertexCount() + 2 * 500);

    // The shortcut of a target with a zero-normal face answers all at once.
    Mesh degenerate = fine;
    degenerate.faces[7].normal = {0, 0, 0};
    before = answeredQueries();
    NearestPlaneSearch toDegenerate(degenerate);
    std::vector<float> best;
    toDegenerate.distances(coarse.vertices, best);
    EXPECT_EQ(answeredQueries() - before, coarse.vertexCount());
}

} // namespace
