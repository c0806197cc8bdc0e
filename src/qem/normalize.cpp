#include "qem/normalize.h"

#include <cmath>

float boxDiagonal(const Vector3& minCorner, const Vector3& maxCorner)
{
    float dx = minCorner.x - maxCorner.x;
    float dy = minCorner.y - maxCorner.y;
    float dz = minCorner.z - maxCorner.z;
    float sum = dx * dx + dy * dy;
    sum = sum + dz * dz;
    return std::sqrt(sum);
}

namespace {

bool usableDiagonal(float d) { return d > 0.0f && std::isfinite(d); }

// The box normalizeMeshes measures: translated as the vertices are, then
// scaled corner by corner. The box holds a vertex at each of its bounds, and
// after centring it contains the origin, so scaling by a factor of at least 1
// makes it exactly the scaled vertices' box, which Mesh::scale widens it to.
float centredDiagonal(const Mesh& mesh, float factor)
{
    Vector3 centre, lo = mesh.bboxMin, hi = mesh.bboxMax;
    add(mesh.bboxMin, mesh.bboxMax, centre);
    centre *= -0.5f;
    lo += centre;
    hi += centre;
    lo *= factor;
    hi *= factor;
    return boxDiagonal(lo, hi);
}

} // namespace

bool normalizableAsFirst(const Mesh& mesh)
{
    return usableDiagonal(centredDiagonal(mesh, kFirstMeshScale));
}

bool normalizableAsSecond(const Mesh& mesh) { return usableDiagonal(centredDiagonal(mesh, 1.0f)); }

NormalizeFailure normalizeMeshes(Mesh& first, Mesh& second)
{
    Vector3 centerMesh1, centerMesh2;
    add(first.bboxMin, first.bboxMax, centerMesh1);
    centerMesh1 *= -0.5f;
    add(second.bboxMin, second.bboxMax, centerMesh2);
    centerMesh2 *= -0.5f;

    first.translate(centerMesh1);
    second.translate(centerMesh2);
    first.scale(kFirstMeshScale);

    Vector3 minExtntOfMesh1 = first.bboxMin;
    Vector3 maxExtntOfMesh1 = first.bboxMax;
    Vector3 minExtntOfMesh2 = second.bboxMin;
    Vector3 maxExtntOfMesh2 = second.bboxMax;
    float d1 = boxDiagonal(minExtntOfMesh1, maxExtntOfMesh1);
    float d2 = boxDiagonal(minExtntOfMesh2, maxExtntOfMesh2);

    // A zero diagonal would make the factor infinite (or 0 for the other
    // mesh) and turn every coordinate into NaN or 0.
    NormalizeFailure failure{!usableDiagonal(d1), !usableDiagonal(d2)};
    if (!failure.any())
        second.scale(d1 / d2);
    return failure;
}
