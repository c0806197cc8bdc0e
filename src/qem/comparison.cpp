#include "qem/comparison.h"

#include "qem/qem_error.h"

float sumInVertexOrder(const std::vector<float>& distances)
{
    float sum = 0.0f;
    for (float d : distances)
        sum = sum + d;
    return sum;
}

DirectedDistances pointToFace(const Mesh& from, NearestPlaneSearch& to)
{
    DirectedDistances directed;
    directed.vertexCount = from.vertexCount();
    directed.faceCount = to.target().faceCount();
    to.distances(from.vertices, directed.distances);
    directed.sum = sumInVertexOrder(directed.distances);
    return directed;
}

DirectedDistances pointToFace(const Mesh& from, const Mesh& to)
{
    NearestPlaneSearch search(to);
    return pointToFace(from, search);
}

Comparison compareMeshes(NearestPlaneSearch& first, NearestPlaneSearch& second)
{
    Comparison comparison;
    comparison.firstToSecond = pointToFace(first.target(), second);
    comparison.secondToFirst = pointToFace(second.target(), first);
    comparison.qemError =
        qemError(comparison.firstToSecond.sum, comparison.secondToFirst.sum,
                 first.target().vertexCount(), second.target().vertexCount());
    return comparison;
}

Comparison compareMeshes(const Mesh& first, const Mesh& second)
{
    NearestPlaneSearch firstSearch(first), secondSearch(second);
    return compareMeshes(firstSearch, secondSearch);
}
