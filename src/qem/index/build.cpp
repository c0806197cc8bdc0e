#include "qem/index/plane_index.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>

#include "geometry/box.h"
#include "qem/index/enclosure.h"
#include "query/partition.h"
#include "query/select.h"

namespace {

// What a leaf needs of a face.
struct FaceRecord {
    Vector3 corner[3];
    Vector3 normal;
    std::uint32_t vertex[3];
};

class Builder {
public:
    Builder(const Mesh& mesh, PlaneIndex& index)
        : mesh_(mesh), index_(index), count_(std::uint32_t(mesh.faces.size())),
          // Left uninitialised: the first write to each page happens in the
          // parallel loops below, not serially in a constructor.
          items_(count_)
    {
        // Normals are scaled by the mesh's radius so that a spread of normals
        // weighs as the spread of n . v' it causes for queries near the mesh.
        float lo[3], hi[3];
        pointBounds(mesh.vertices, lo, hi);
        double radius = 0.0;
        for (int i = 0; i < 3; ++i)
            radius = std::max(radius, 0.5 * (double(hi[i]) - lo[i]));
        bool zeroNormal = false;
        const std::ptrdiff_t faces = std::ptrdiff_t(count_);
#pragma omp parallel for schedule(static) reduction(|| : zeroNormal)
        for (std::ptrdiff_t f = 0; f < faces; ++f) {
            const Face& face = mesh.faces[std::size_t(f)];
            const Vector3& n = face.normal;
            zeroNormal = zeroNormal || (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f);
            double cx = 0.0, cy = 0.0, cz = 0.0;
            for (int k = 0; k < 3; ++k) {
                const Vector3& c = mesh.corner(face, k);
                cx += c.x, cy += c.y, cz += c.z;
            }
            double offset = (cx * n.x + cy * n.y + cz * n.z) / 3.0;
            items_[std::size_t(f)] = {{float(n.x * radius), float(n.y * radius),
                                       float(n.z * radius), float(offset)},
                                      std::uint32_t(f)};
        }
        index_.zeroNormalFace = zeroNormal;
    }

    // The median splits permute the split keys alone, independent ranges in
    // parallel; then the leaves are filled in parallel, and last the nodes
    // are assembled from the leaves' summaries. The result is the same as
    // splitting, filling and assembling in one depth-first recursion,
    // whatever the number of threads.
    void build()
    {
        scratch_.resize(count_);
        bins_.reset(new std::uint8_t[count_]);
#pragma omp parallel
#pragma omp single
        partition(0, count_);
        FillLaterVector<Item>().swap(scratch_);
        bins_.reset();

        // Every range the splits produce starts at a multiple of kLanes, so
        // leaf l holds positions [kLanes l, kLanes (l + 1)), the last one
        // possibly fewer.
        const std::uint32_t leaves = (count_ + kLanes - 1) / kLanes;
        index_.leaves.resize(leaves);
        leafSummaries_.reset(new Summary[leaves]);
#pragma omp parallel for schedule(static)
        for (std::ptrdiff_t l = 0; l < std::ptrdiff_t(leaves); ++l) {
            std::uint32_t first = std::uint32_t(l) * kLanes;
            makeLeaf({first, std::min(first + kLanes, count_)}, index_.leaves[std::size_t(l)],
                     leafSummaries_[std::size_t(l)]);
        }

        index_.nodes.reserve(count_ / 32 + 1);
        Summary root;
        buildNode(0, count_, root);
    }

private:
    using Range = query::ItemRange;

    static std::uint32_t splitPoint(Range r) { return query::splitPoint(r, kLanes); }

    // Splits every range of the tree, down to leaves (query/partition.h).
    void partition(std::uint32_t first, std::uint32_t last)
    {
        query::partitionRanges(first, last, std::uint32_t(kLanes),
                               [this](Range r) { return split(r); });
    }

    // Median split of a range on its widest key; returns splitPoint(r).
    std::uint32_t split(Range r)
    {
        float lo[4], hi[4];
        std::fill(lo, lo + 4, HUGE_VALF);
        std::fill(hi, hi + 4, -HUGE_VALF);
        for (std::uint32_t i = r.first; i < r.second; ++i) {
            const float* key = items_[i].key;
            for (int a = 0; a < 4; ++a)
                lo[a] = std::min(lo[a], key[a]), hi[a] = std::max(hi[a], key[a]);
        }
        int axis = 0;
        for (int a = 1; a < 4; ++a)
            if (hi[a] - lo[a] > hi[axis] - lo[axis])
                axis = a;
        std::uint32_t mid = splitPoint(r);
        query::selectSplit(
            items_.data(), r.first, mid, r.second, lo[axis], hi[axis],
            [axis](const Item& a) { return a.key[axis]; },
            [axis](const Item& a, const Item& b) { return a.key[axis] < b.key[axis]; },
            scratch_.data() + r.first, bins_.get() + r.first);
        return mid;
    }

    // What a lane needs to know about the subtree below it.
    struct Summary {
        float lo[3], hi[3];  // the corners' bounding box
        float p[3];          // its centre, the lane's reference point
        float nlo[3], nhi[3];
        float olo, ohi, rad;  // measured from p
    };

    std::int32_t buildNode(std::uint32_t first, std::uint32_t last, Summary& out)
    {
        // Split the largest part until there are 8 or none has more than a leaf.
        std::array<Range, kLanes> parts;
        int count = 1;
        parts[0] = {first, last};
        while (count < kLanes) {
            int largest = 0;
            for (int j = 1; j < count; ++j)
                if (parts[j].second - parts[j].first > parts[largest].second - parts[largest].first)
                    largest = j;
            Range r = parts[largest];
            if (r.second - r.first <= std::uint32_t(kLanes))
                break;
            std::uint32_t mid = splitPoint(r);
            for (int j = count; j > largest + 1; --j)
                parts[j] = parts[j - 1];
            parts[largest] = {r.first, mid};
            parts[largest + 1] = {mid, r.second};
            ++count;
        }

        std::int32_t self = std::int32_t(index_.nodes.size());
        index_.nodes.emplace_back();
        for (int i = 0; i < 3; ++i) {
            out.lo[i] = out.nlo[i] = HUGE_VALF;
            out.hi[i] = out.nhi[i] = -HUGE_VALF;
        }
        for (int j = 0; j < count; ++j) {
            Summary lane;
            std::int32_t child;
            if (parts[j].second - parts[j].first <= std::uint32_t(kLanes)) {
                std::uint32_t leaf = parts[j].first / kLanes;
                child = ~std::int32_t(leaf);
                lane = leafSummaries_[leaf];
            } else
                child = buildNode(parts[j].first, parts[j].second, lane);
            PlaneNode& node = index_.nodes[std::size_t(self)];
            node.px[j] = lane.p[0], node.py[j] = lane.p[1], node.pz[j] = lane.p[2];
            node.nlox[j] = lane.nlo[0], node.nhix[j] = lane.nhi[0];
            node.nloy[j] = lane.nlo[1], node.nhiy[j] = lane.nhi[1];
            node.nloz[j] = lane.nlo[2], node.nhiz[j] = lane.nhi[2];
            node.olo[j] = lane.olo, node.ohi[j] = lane.ohi, node.rad[j] = lane.rad;
            node.child[j] = child;
            for (int i = 0; i < 3; ++i) {
                out.lo[i] = std::min(out.lo[i], lane.lo[i]);
                out.hi[i] = std::max(out.hi[i], lane.hi[i]);
                out.nlo[i] = std::min(out.nlo[i], lane.nlo[i]);
                out.nhi[i] = std::max(out.nhi[i], lane.nhi[i]);
            }
        }
        PlaneNode& node = index_.nodes[std::size_t(self)];
        node.count = count;
        for (int i = 0; i < 3; ++i)
            out.p[i] = out.lo[i] * 0.5f + out.hi[i] * 0.5f;
        // From the node's lanes, not from every face below: that would make the
        // build O(F log F) in face reads.
        OffsetRange o = deriveOffsets(node, out.p);
        out.olo = o.lo, out.ohi = o.hi, out.rad = o.rad;
        return self;
    }

    // Fills a leaf from positions r of the ordered records, measured from the
    // centre of its corners' box, and the lane data for it. The lane's
    // [olo, ohi] encloses each face's [omid - hw, omid + hw] (not only its
    // corner offsets): the leaf bound's analysis needs
    // |omid| + hw <= max(|olo|, |ohi|).
    void makeLeaf(Range r, PlaneLeaf& leaf, Summary& lane) const
    {
        FaceRecord records[kLanes];
        for (std::uint32_t i = r.first; i < r.second; ++i) {
            const Face& face = mesh_.faces[items_[i].face];
            FaceRecord& record = records[i - r.first];
            for (int k = 0; k < 3; ++k) {
                record.corner[k] = mesh_.corner(face, k);
                record.vertex[k] = face.vertices[std::size_t(k)];
            }
            record.normal = face.normal;
        }
        for (int i = 0; i < 3; ++i) {
            lane.lo[i] = lane.nlo[i] = HUGE_VALF;
            lane.hi[i] = lane.nhi[i] = -HUGE_VALF;
        }
        for (std::uint32_t i = r.first; i < r.second; ++i) {
            const FaceRecord& record = records[i - r.first];
            for (const Vector3& c : record.corner) {
                lane.lo[0] = std::min(lane.lo[0], c.x), lane.hi[0] = std::max(lane.hi[0], c.x);
                lane.lo[1] = std::min(lane.lo[1], c.y), lane.hi[1] = std::max(lane.hi[1], c.y);
                lane.lo[2] = std::min(lane.lo[2], c.z), lane.hi[2] = std::max(lane.hi[2], c.z);
            }
            const Vector3& n = record.normal;
            lane.nlo[0] = std::min(lane.nlo[0], n.x), lane.nhi[0] = std::max(lane.nhi[0], n.x);
            lane.nlo[1] = std::min(lane.nlo[1], n.y), lane.nhi[1] = std::max(lane.nhi[1], n.y);
            lane.nlo[2] = std::min(lane.nlo[2], n.z), lane.nhi[2] = std::max(lane.nhi[2], n.z);
        }
        for (int i = 0; i < 3; ++i)
            lane.p[i] = lane.lo[i] * 0.5f + lane.hi[i] * 0.5f;
        const float* p = lane.p;
        lane.rad = 0.0f;
        leaf.px = p[0], leaf.py = p[1], leaf.pz = p[2];
        std::fill(leaf.unused, leaf.unused + kLanes - 3, 0.0f);
        for (int j = 0; j < kLanes; ++j) {
            // Lanes past the last face repeat it.
            std::uint32_t at = std::min(r.first + std::uint32_t(j), r.second - 1);
            const FaceRecord& record = records[at - r.first];
            OffsetRange o = offsetRange(record.corner, record.normal, p);
            LeafOffsets offsets = leafOffsets(o.lo, o.hi);
            leaf.nx[j] = record.normal.x, leaf.ny[j] = record.normal.y, leaf.nz[j] = record.normal.z;
            leaf.omid[j] = offsets.mid;
            leaf.hw[j] = offsets.hw;
            leaf.face[j] = items_[at].face;
            for (int k = 0; k < 3; ++k)
                leaf.corner[k][j] = record.vertex[k];
            lane.rad = std::max(lane.rad, o.rad);
        }
        OffsetInterval interval = leafLaneOffsets(leaf);
        lane.olo = interval.lo, lane.ohi = interval.hi;
    }

    const Mesh& mesh_;
    PlaneIndex& index_;
    const std::uint32_t count_;
    // Split keys: the normal scaled by the mesh's radius and n . centroid.
    struct Item {
        float key[4];
        std::uint32_t face;
    };
    FillLaterVector<Item> items_;
    // The splits' work space, a range's at the range's own positions.
    FillLaterVector<Item> scratch_;
    std::unique_ptr<std::uint8_t[]> bins_;
    std::unique_ptr<Summary[]> leafSummaries_;
};

} // namespace

PlaneIndex buildPlaneIndex(const Mesh& mesh)
{
    PlaneIndex index;
    Builder(mesh, index).build();
    return index;
}

namespace {

// False for NaN as well.
bool within(const Vector3& v, float limit)
{
    return std::fabs(v.x) <= limit && std::fabs(v.y) <= limit && std::fabs(v.z) <= limit;
}

} // namespace

bool inPlaneIndexDomain(PointSpan points)
{
    const std::ptrdiff_t count = std::ptrdiff_t(points.size());
    bool inside = true;
#pragma omp parallel for schedule(static) reduction(&& : inside) if (count >= kParallelMeshPass)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        inside = inside && within(points[std::size_t(i)], kMaxIndexedCoordinate);
    return inside;
}

bool inPlaneIndexDomain(const Mesh& mesh)
{
    if (!inPlaneIndexDomain(mesh.vertices))
        return false;
    const std::ptrdiff_t count = std::ptrdiff_t(mesh.faces.size());
    bool inside = true;
#pragma omp parallel for schedule(static) reduction(&& : inside) if (count >= kParallelMeshPass)
    for (std::ptrdiff_t f = 0; f < count; ++f)
        inside = inside && within(mesh.faces[std::size_t(f)].normal, kMaxIndexedNormalComponent);
    return inside;
}
