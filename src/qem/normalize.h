// Brings both meshes of a comparison to a common position and size: the
// figures then depend neither on the units nor on the placement of the input.
#pragma once

#include "geometry/mesh.h"

// The first mesh is scaled to this many times its own size.
constexpr float kFirstMeshScale = 30.0f;

// Length of the box diagonal: float squares, summed x² + y² first, then + z²,
// and the float square root.
float boxDiagonal(const Vector3& minCorner, const Vector3& maxCorner);

// Which mesh could not be brought to the common size.
struct NormalizeFailure {
    bool first = false;
    bool second = false;
    bool any() const { return first || second; }
};

// Centres both meshes on their bounding boxes, scales `first` by
// kFirstMeshScale and `second` so that its box diagonal matches. A mesh whose
// diagonal is then zero or not finite cannot be scaled; the meshes are left
// part-way and the failure says which one is at fault.
NormalizeFailure normalizeMeshes(Mesh& first, Mesh& second);

// Whether normalizeMeshes can bring `mesh` to the common size in the role
// given, judged from its own box alone (a mesh with at least one vertex): the
// diagonal of its centred box, times kFirstMeshScale for the first mesh, is
// positive and finite. normalizeMeshes reports a failure for a mesh exactly
// when this is false, so a mesh can be checked while the other one is
// missing.
bool normalizableAsFirst(const Mesh& mesh);
bool normalizableAsSecond(const Mesh& mesh);
