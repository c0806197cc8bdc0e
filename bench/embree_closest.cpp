#include "embree_closest.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <embree3/rtcore.h>

#include "geometry/box.h"

struct EmbreeClosest::State {
    const Mesh* mesh;
    RTCDevice device;
    RTCScene scene;
    // An absolute margin for the culling radius: Embree's float box tests
    // and the float query point err by a few float ulps of the coordinates.
    float absoluteMargin;
};

namespace {

struct Query {
    const Mesh* mesh;
    Point3d p;
    double best;
    float absoluteMargin;
};

// Embree shrinks its search to query->radius; the radius stays a little
// above sqrt(best) so that no triangle whose value ties or beats best is
// culled by Embree's float arithmetic (relative 2^-18, 64 float ulps, and 2^-20 of the largest
// coordinate), and the result is the exhaustive minimum.
bool closestCallback(RTCPointQueryFunctionArguments* args)
{
    Query& q = *static_cast<Query*>(args->userPtr);
    const Face& f = q.mesh->faces[args->primID];
    double d = pointTriangleDistanceSquared(q.p, q.mesh->corner(f, 0), q.mesh->corner(f, 1),
                                            q.mesh->corner(f, 2));
    if (!(d < q.best))
        return false;
    q.best = d;
    args->query->radius = float(std::sqrt(d) * (1.0 + 0x1p-18)) + q.absoluteMargin;
    return true;
}

} // namespace

EmbreeClosest::EmbreeClosest(const Mesh& mesh, int threads) : state_(new State)
{
    state_->mesh = &mesh;
    const std::string config = "threads=" + std::to_string(threads);
    state_->device = rtcNewDevice(config.c_str());
    if (!state_->device) {
        std::fprintf(stderr, "embree: no device\n");
        std::exit(1);
    }
    state_->scene = rtcNewScene(state_->device);
    rtcSetSceneBuildQuality(state_->scene, RTC_BUILD_QUALITY_HIGH);
    RTCGeometry geometry = rtcNewGeometry(state_->device, RTC_GEOMETRY_TYPE_TRIANGLE);
    float* vertices = static_cast<float*>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float),
        mesh.vertices.size()));
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        vertices[3 * i] = mesh.vertices[i].x;
        vertices[3 * i + 1] = mesh.vertices[i].y;
        vertices[3 * i + 2] = mesh.vertices[i].z;
    }
    unsigned* indices = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned),
        mesh.faces.size()));
    for (std::size_t f = 0; f < mesh.faces.size(); ++f)
        for (int k = 0; k < 3; ++k)
            indices[3 * f + std::size_t(k)] = mesh.faces[f].vertices[std::size_t(k)];
    rtcCommitGeometry(geometry);
    rtcAttachGeometry(state_->scene, geometry);
    rtcReleaseGeometry(geometry);
    rtcCommitScene(state_->scene);
    float lo[3], hi[3];
    pointBounds(mesh.vertices, lo, hi);
    float extent = 0.0f;
    for (int i = 0; i < 3; ++i)
        extent = std::fmax(extent, std::fmax(std::fabs(lo[i]), std::fabs(hi[i])));
    state_->absoluteMargin = extent * 0x1p-20f + 0x1p-126f;
}

EmbreeClosest::~EmbreeClosest()
{
    rtcReleaseScene(state_->scene);
    rtcReleaseDevice(state_->device);
}

void EmbreeClosest::distances(const std::vector<Point3d>& points,
                              const std::vector<std::uint32_t>& order,
                              std::vector<double>& out) const
{
    out.assign(points.size(), HUGE_VAL);
    const std::ptrdiff_t count = std::ptrdiff_t(order.size());
#pragma omp parallel for schedule(dynamic, 64)
    for (std::ptrdiff_t k = 0; k < count; ++k) {
        const std::uint32_t i = order[std::size_t(k)];
        const Point3d& p = points[i];
        Query q{state_->mesh, p, HUGE_VAL, state_->absoluteMargin};
        RTCPointQuery query;
        query.x = float(p.x), query.y = float(p.y), query.z = float(p.z);
        query.time = 0.0f;
        query.radius = HUGE_VALF;
        RTCPointQueryContext context;
        rtcInitPointQueryContext(&context);
        rtcPointQuery(state_->scene, &query, &context, closestCallback, &q);
        out[i] = std::sqrt(q.best);
    }
}
