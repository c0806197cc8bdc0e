#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>

#include "query/partition.h"
#include "query/select.h"
#include "query/tasks.h"
#include "surface/index/indexed_search.h"
#include "surface/index/kernels.h"
#include "surface/index/surface_index.h"

namespace surface_index {

namespace {

class Builder {
public:
    Builder(const Mesh& mesh, const SurfaceKernels& kernels, SurfaceIndex& index)
        : mesh_(mesh), kernels_(kernels), index_(index), count_(std::uint32_t(mesh.faces.size())),
          items_(count_)
    {
        float largest = 0.0f;
        for (const Vector3& v : mesh.vertices)
            largest = std::max({largest, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
        // s = 2^k puts the largest magnitude in [2^10, 2^11); ilogb is exact
        // for subnormals too. k lies in [10 - 127, 10 + 149].
        int k = largest > 0.0f ? kScaleExponent - std::ilogb(largest) : 0;
        index_.scale = std::ldexp(1.0, k);
        // A triangle's diameter is at most the diagonal of the box
        // [-m, m]^3, 2 sqrt(3) m; 4 m rounds to no less.
        index_.diameter = 4.0 * double(largest) * index_.scale;
        // Shared, not firstprivate: a task would copy the mesh.
#pragma omp taskloop grainsize(kItemGrain) shared(mesh)
        for (std::uint32_t f = 0; f < count_; ++f) {
            const Face& face = mesh.faces[f];
            Item& item = items_[f];
            for (int i = 0; i < 3; ++i) {
                // The box centre of the corners: a split key only.
                float lo = HUGE_VALF, hi = -HUGE_VALF;
                for (int c = 0; c < 3; ++c) {
                    const Vector3& v = mesh.corner(face, c);
                    float x = i == 0 ? v.x : i == 1 ? v.y : v.z;
                    lo = std::min(lo, x), hi = std::max(hi, x);
                }
                item.key[i] = float(0.5 * (double(lo) + double(hi)));
            }
            item.face = f;
        }
    }

    // The median splits permute the items alone, independent ranges as
    // tasks; then the leaves are filled by a task loop and last the nodes
    // are assembled from the leaves' boxes. The result is that of one
    // depth-first recursion whatever the number of threads.
    void build()
    {
        scratch_.resize(count_);
        bins_.reset(new std::uint8_t[count_]);
#pragma omp taskgroup
        partition(0, count_);
        FillLaterVector<Item>().swap(scratch_);
        bins_.reset();

        // Every range the splits produce starts at a multiple of kLanes.
        const std::uint32_t leaves = (count_ + kLanes - 1) / kLanes;
        index_.leaves.resize(leaves);
        index_.faces.resize(std::size_t(leaves) * kLanes);
        leafBoxes_.reset(new Box[leaves]);
#pragma omp taskloop grainsize(kLeafGrain)
        for (std::uint32_t l = 0; l < leaves; ++l) {
            std::uint32_t first = l * kLanes;
            makeLeaf({first, std::min(first + kLanes, count_)}, index_.leaves[l], leafBoxes_[l],
                     &index_.faces[std::size_t(l) * kLanes]);
        }
        index_.nodes.reserve(count_ / 32 + 1);
        Box root;
        buildNode(0, count_, root);
    }

private:
    using Range = query::ItemRange;
    // Faces and leaves per task of the loops over them.
    static constexpr std::uint32_t kItemGrain = 8192, kLeafGrain = 512;
    struct Box {
        float lo[3], hi[3];
    };

    static std::uint32_t splitPoint(Range r) { return query::splitPoint(r, kLanes); }

    // Splits every range of the tree, down to leaves (query/partition.h).
    void partition(std::uint32_t first, std::uint32_t last)
    {
        query::partitionRanges(first, last, std::uint32_t(kLanes),
                               [this](Range r) { return split(r); });
    }

    // Median split of a range on the widest axis of its keys (ties by axis
    // order); returns splitPoint(r).
    std::uint32_t split(Range r)
    {
        float lo[3] = {HUGE_VALF, HUGE_VALF, HUGE_VALF}, hi[3] = {-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};
        for (std::uint32_t i = r.first; i < r.second; ++i)
            for (int a = 0; a < 3; ++a)
                lo[a] = std::min(lo[a], items_[i].key[a]), hi[a] = std::max(hi[a], items_[i].key[a]);
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (double(hi[a]) - lo[a] > double(hi[axis]) - lo[axis])
                axis = a;
        std::uint32_t mid = splitPoint(r);
        // Ties broken by face index: the order depends on the keys alone.
        query::selectSplit(
            items_.data(), r.first, mid, r.second, lo[axis], hi[axis],
            [axis](const Item& a) { return a.key[axis]; },
            [axis](const Item& a, const Item& b) {
                return a.key[axis] < b.key[axis] ||
                       (a.key[axis] == b.key[axis] && a.face < b.face);
            },
            scratch_.data() + r.first, bins_.get() + r.first);
        return mid;
    }

    std::int32_t buildNode(std::uint32_t first, std::uint32_t last, Box& out)
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
        {
            SurfaceNode& node = index_.nodes[std::size_t(self)];
            // Unused lanes: empty boxes, whose bound is +inf.
            for (int j = 0; j < kLanes; ++j) {
                node.lox[j] = node.loy[j] = node.loz[j] = HUGE_VALF;
                node.hix[j] = node.hiy[j] = node.hiz[j] = -HUGE_VALF;
                node.child[j] = 0;
            }
        }
        for (int i = 0; i < 3; ++i)
            out.lo[i] = HUGE_VALF, out.hi[i] = -HUGE_VALF;
        for (int j = 0; j < count; ++j) {
            Box lane;
            std::int32_t child;
            if (parts[j].second - parts[j].first <= std::uint32_t(kLanes)) {
                std::uint32_t leaf = parts[j].first / kLanes;
                child = ~std::int32_t(leaf);
                lane = leafBoxes_[leaf];
            } else
                child = buildNode(parts[j].first, parts[j].second, lane);
            // A reference taken after the recursion: it may have reallocated.
            SurfaceNode& node = index_.nodes[std::size_t(self)];
            node.lox[j] = lane.lo[0], node.hix[j] = lane.hi[0];
            node.loy[j] = lane.lo[1], node.hiy[j] = lane.hi[1];
            node.loz[j] = lane.lo[2], node.hiz[j] = lane.hi[2];
            node.child[j] = child;
            for (int i = 0; i < 3; ++i)
                out.lo[i] = std::min(out.lo[i], lane.lo[i]), out.hi[i] = std::max(out.hi[i], lane.hi[i]);
        }
        index_.nodes[std::size_t(self)].count = count;
        return self;
    }

    // Fills a leaf from items r: each triangle's box in scaled space, rounded
    // outwards from the exact scaled corners (s c is exact in double), its
    // prism about the centre of the leaf's box, and the union box for the
    // parent lane (a min/max of floats, exact).
    void makeLeaf(Range r, SurfaceLeaf& leaf, Box& box, std::uint32_t* faces) const
    {
        for (int i = 0; i < 3; ++i)
            box.lo[i] = HUGE_VALF, box.hi[i] = -HUGE_VALF;
        const double s = index_.scale;
        // Corner c of lane j in scaled space, by axis: x[c][axis][j].
        alignas(32) double x[3][3][kLanes];
        for (int j = 0; j < kLanes; ++j) {
            // Lanes past the last triangle repeat it.
            std::uint32_t at = std::min(r.first + std::uint32_t(j), r.second - 1);
            const Face& face = mesh_.faces[items_[at].face];
            faces[j] = items_[at].face;
            double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
            for (int c = 0; c < 3; ++c) {
                const Vector3& v = mesh_.corner(face, c);
                leaf.corner[j][c] = v;
                const double scaled[3] = {v.x * s, v.y * s, v.z * s};
                for (int i = 0; i < 3; ++i) {
                    x[c][i][j] = scaled[i];
                    lo[i] = std::min(lo[i], scaled[i]), hi[i] = std::max(hi[i], scaled[i]);
                }
            }
            float flo[3], fhi[3];
            for (int i = 0; i < 3; ++i) {
                flo[i] = floatDown(lo[i]), fhi[i] = floatUp(hi[i]);
                box.lo[i] = std::min(box.lo[i], flo[i]), box.hi[i] = std::max(box.hi[i], fhi[i]);
            }
            leaf.lox[j] = flo[0], leaf.hix[j] = fhi[0];
            leaf.loy[j] = flo[1], leaf.hiy[j] = fhi[1];
            leaf.loz[j] = flo[2], leaf.hiz[j] = fhi[2];
        }
        for (int i = 0; i < 3; ++i)
            leaf.blo[i] = box.lo[i], leaf.bhi[i] = box.hi[i];
        for (int k = 0; k < kLanes - 6; ++k)
            leaf.unused[k] = 0.0f;
        const float c[3] = {leafCentre(leaf, 0), leafCentre(leaf, 1), leafCentre(leaf, 2)};
        kernels_.leafPrisms(x, c, leaf);
    }

    const Mesh& mesh_;
    const SurfaceKernels& kernels_;
    SurfaceIndex& index_;
    const std::uint32_t count_;
    struct Item {
        float key[3];
        std::uint32_t face;
    };
    FillLaterVector<Item> items_;
    // The splits' work space, a range's at the range's own positions.
    FillLaterVector<Item> scratch_;
    std::unique_ptr<std::uint8_t[]> bins_;
    std::unique_ptr<Box[]> leafBoxes_;
};

} // namespace

bool indexableMesh(const Mesh& mesh)
{
    if (mesh.faces.size() <= std::size_t(kLanes))
        return false;
    for (const Vector3& v : mesh.vertices)
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            return false;
    return true;
}

SurfaceIndex buildSurfaceIndex(const Mesh& mesh, const SurfaceKernels& kernels)
{
    SurfaceIndex index;
    runWithTasks([&] { Builder(mesh, kernels, index).build(); });
    return index;
}

SurfaceIndex buildSurfaceIndex(const Mesh& mesh)
{
    return buildSurfaceIndex(mesh, surfaceKernelsFor(SearchMode::automatic));
}

} // namespace surface_index
