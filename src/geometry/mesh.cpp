#include "geometry/mesh.h"

void Mesh::includeInBox(const Vector3& v)
{
    bboxMin.x = boxMin(bboxMin.x, v.x);
    bboxMin.y = boxMin(bboxMin.y, v.y);
    bboxMin.z = boxMin(bboxMin.z, v.z);
    bboxMax.x = boxMax(bboxMax.x, v.x);
    bboxMax.y = boxMax(bboxMax.y, v.y);
    bboxMax.z = boxMax(bboxMax.z, v.z);
}

void Mesh::translate(const Vector3& t)
{
    for (Vector3& v : vertices)
        v += t;
    bboxMin += t;
    bboxMax += t;
}

void Mesh::scale(float s)
{
    for (Vector3& v : vertices) {
        v *= s;
        includeInBox(v);
    }
}
