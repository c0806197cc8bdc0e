#include "compare.h"

#include <cmath>
#include <vector>

#include "search.h"

float boxDiagonal(const Vector3& minCorner, const Vector3& maxCorner)
{
    float dx = minCorner.x - maxCorner.x;
    float dy = minCorner.y - maxCorner.y;
    float dz = minCorner.z - maxCorner.z;
    float sum = dx * dx + dy * dy;
    sum = sum + dz * dz;
    return std::sqrt(sum);
}

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
    auto usable = [](float d) { return d > 0.0f && std::isfinite(d); };
    NormalizeFailure failure{!usable(d1), !usable(d2)};
    if (!failure.any())
        second.scale(d1 / d2);
    return failure;
}

float nearestPlaneDistance(const Vector3& v, const Mesh& mesh)
{
    float best = kFarDistance;
    for (const Face& face : mesh.faces) {
        float d = facePlaneDistance(v, mesh.corner(face, 0), mesh.corner(face, 1),
                                    mesh.corner(face, 2), face.normal);
        if (d < best)
            best = d;
    }
    return best;
}

DirectedSum pointToFace(const Mesh& from, const Mesh& to)
{
    // The search may use threads; the sum stays in vertex order on one.
    std::vector<float> best;
    nearestPlaneDistances(from, to, best);
    float sum = 0.0f;
    for (float b : best)
        sum = sum + b;
    return {from.vertexCount(), to.faceCount(), sum};
}

float qemError(float s12, float s21, std::size_t n1, std::size_t n2)
{
    if (n1 == 0 && n2 == 0)
        return 0.0f;
    float s12Squared = s12 * s12;
    float s21Squared = s21 * s21;
    return float((double(s12Squared) + double(s21Squared)) / double(n1 + n2));
}
