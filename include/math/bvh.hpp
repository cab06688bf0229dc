#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace math {

// A bounding volume hierarchy over boxes, as a flat array of nodes: an inner
// node's children are nodes index and index + 1, and a leaf's primitives are
// order[index, index + count).
template <class T>
struct BvhNode {
    T lower[3];
    T upper[3];
    std::uint32_t index;
    std::uint32_t count;  // 0 for an inner node
};

template <class T>
struct Bvh {
    std::vector<BvhNode<T>> nodes;
    std::vector<std::uint32_t> order;  // primitive ids, leaf by leaf
};

namespace detail {

template <class T>
struct BvhPrimitive {
    T lower[3];
    T upper[3];
    T centre[3];
    std::uint32_t id;
};

template <class T>
inline T boxArea(const T* lower, const T* upper) {
    const T x = upper[0] - lower[0], y = upper[1] - lower[1], z = upper[2] - lower[2];
    return x * y + y * z + z * x;
}

template <class T>
inline void growBox(T* lower, T* upper, const T* otherLower, const T* otherUpper) {
    for (int i = 0; i < 3; ++i) {
        lower[i] = std::min(lower[i], otherLower[i]);
        upper[i] = std::max(upper[i], otherUpper[i]);
    }
}

template <class T>
inline void emptyBox(T* lower, T* upper) {
    for (int i = 0; i < 3; ++i) {
        lower[i] = std::numeric_limits<T>::infinity();
        upper[i] = -std::numeric_limits<T>::infinity();
    }
}

inline constexpr int kBins = 16;
// Beyond this depth ranges are halved by count, which bounds the depth of
// any hierarchy (and the traversal stacks) by kMaxDepth + 32.
inline constexpr int kSahDepth = 64;
inline constexpr int kMaxDepth = kSahDepth + 32;
// A ray or point test of a box costs about a third of a triangle's.
inline constexpr double kTraversalCost = 0.3;

struct BinnedSplit {
    int axis = -1;
    int bin = 0;
    double cost = std::numeric_limits<double>::infinity();
};

// The cheapest split by the surface-area heuristic over kBins bins of the
// centres on each axis, leaving at least two primitives on either side.
template <class T>
inline BinnedSplit bestSplit(const BvhPrimitive<T>* first, std::size_t count, const T* centreLower,
                             const T* centreUpper) {
    BinnedSplit best;
    for (int axis = 0; axis < 3; ++axis) {
        const double extent = double(centreUpper[axis]) - double(centreLower[axis]);
        if (!(extent > 0)) continue;
        const double scale = kBins / extent;
        std::array<std::size_t, kBins> counts{};
        std::array<std::array<T, 6>, kBins> boxes;
        for (auto& b : boxes) emptyBox(b.data(), b.data() + 3);
        for (std::size_t k = 0; k < count; ++k) {
            const BvhPrimitive<T>& p = first[k];
            const int bin = std::min(
                kBins - 1, int((double(p.centre[axis]) - double(centreLower[axis])) * scale));
            ++counts[bin];
            growBox(boxes[bin].data(), boxes[bin].data() + 3, p.lower, p.upper);
        }
        // Areas and counts of the bins right of each plane, swept from the right.
        std::array<double, kBins> rightArea{};
        std::array<std::size_t, kBins> rightCount{};
        std::array<T, 6> sweep;
        emptyBox(sweep.data(), sweep.data() + 3);
        std::size_t n = 0;
        for (int b = kBins - 1; b > 0; --b) {
            growBox(sweep.data(), sweep.data() + 3, boxes[b].data(), boxes[b].data() + 3);
            n += counts[b];
            rightArea[b] = n ? double(boxArea(sweep.data(), sweep.data() + 3)) : 0.0;
            rightCount[b] = n;
        }
        emptyBox(sweep.data(), sweep.data() + 3);
        n = 0;
        for (int b = 1; b < kBins; ++b) {
            growBox(sweep.data(), sweep.data() + 3, boxes[b - 1].data(), boxes[b - 1].data() + 3);
            n += counts[b - 1];
            if (n < 2 || rightCount[b] < 2) continue;
            const double cost = double(boxArea(sweep.data(), sweep.data() + 3)) * double(n) +
                                rightArea[b] * double(rightCount[b]);
            if (cost < best.cost) best = {axis, b, cost};
        }
    }
    return best;
}

}  // namespace detail

// Binned surface-area heuristic, leaves of at least two primitives (unless
// there is only one), so a hierarchy of n primitives has fewer than n nodes.
// Each primitive is given by its box; ids are the primitives' positions.
template <class T>
inline Bvh<T> buildBvh(std::vector<detail::BvhPrimitive<T>> primitives) {
    using detail::BvhPrimitive;
    Bvh<T> bvh;
    const std::size_t total = primitives.size();
    if (total == 0) return bvh;
    bvh.nodes.reserve(total);
    struct Task {
        std::size_t node, begin, end;
        int depth;
    };
    std::vector<Task> tasks;
    bvh.nodes.push_back({});
    tasks.push_back({0, 0, total, 0});
    while (!tasks.empty()) {
        const Task task = tasks.back();
        tasks.pop_back();
        BvhPrimitive<T>* first = primitives.data() + task.begin;
        const std::size_t count = task.end - task.begin;
        T lower[3], upper[3], centreLower[3], centreUpper[3];
        detail::emptyBox(lower, upper);
        detail::emptyBox(centreLower, centreUpper);
        for (std::size_t k = 0; k < count; ++k) {
            detail::growBox(lower, upper, first[k].lower, first[k].upper);
            detail::growBox(centreLower, centreUpper, first[k].centre, first[k].centre);
        }
        BvhNode<T>& node = bvh.nodes[task.node];  // valid until the next resize
        std::copy(lower, lower + 3, node.lower);
        std::copy(upper, upper + 3, node.upper);

        std::size_t middle = task.begin;
        if (count >= 4) {
            detail::BinnedSplit split;
            if (task.depth < detail::kSahDepth) {
                split = detail::bestSplit(first, count, centreLower, centreUpper);
            }
            const double area = double(detail::boxArea(lower, upper));
            const double splitCost = detail::kTraversalCost + split.cost / area;
            if (split.axis >= 0 && (splitCost < double(count) || count > 8)) {
                const int axis = split.axis;
                const double scale =
                    detail::kBins / (double(centreUpper[axis]) - double(centreLower[axis]));
                middle =
                    std::partition(
                        first, first + count,
                        [&](const BvhPrimitive<T>& p) {
                            const int bin = std::min(
                                detail::kBins - 1,
                                int((double(p.centre[axis]) - double(centreLower[axis])) * scale));
                            return bin < split.bin;
                        }) -
                    primitives.data();
            } else if (split.axis < 0 && count > 8) {
                // No usable plane (coinciding centres, or too deep): halve by count.
                middle = task.begin + count / 2;
            }
        }
        if (middle == task.begin) {
            node.index = std::uint32_t(bvh.order.size());
            node.count = std::uint32_t(count);
            for (std::size_t k = 0; k < count; ++k) bvh.order.push_back(first[k].id);
            continue;
        }
        node.count = 0;
        const std::size_t left = bvh.nodes.size(), right = left + 1;
        bvh.nodes.resize(left + 2);
        bvh.nodes[task.node].index = std::uint32_t(left);
        tasks.push_back({right, middle, task.end, task.depth + 1});
        tasks.push_back({left, task.begin, middle, task.depth + 1});
    }
    return bvh;
}

// Children a node of the walked hierarchy has: four halve the nodes a walk
// visits; eight measured no faster.
inline constexpr int kWidth = 4;

// A node of the walked hierarchy: each slot holds a child's box (bounds[0]
// the lower corner, bounds[1] the upper, axis by axis), and either an inner
// node (count 0) or a leaf's run of primitives. An unused slot has an empty
// box, (inf, -inf), and index kEmptySlot.
struct alignas(64) WideNode {
    float bounds[2][3][kWidth];
    std::uint32_t index[kWidth];
    std::uint32_t count[kWidth];
};

inline constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;

namespace detail {

// Fills wide node `at` with the nodes two levels or so below binary node
// `node`: the inner child of largest area is opened until kWidth are found.
inline void collapseInto(const Bvh<float>& bvh, std::uint32_t node, std::size_t at,
                         std::vector<WideNode>& wide) {
    std::uint32_t children[kWidth];
    int count = 0;
    if (bvh.nodes[node].count > 0) {
        children[count++] = node;  // a root that is a leaf
    } else {
        children[count++] = bvh.nodes[node].index;
        children[count++] = bvh.nodes[node].index + 1;
    }
    while (count < kWidth) {
        int widest = -1;
        float widestArea = -1;
        for (int k = 0; k < count; ++k) {
            const BvhNode<float>& c = bvh.nodes[children[k]];
            const float area = boxArea(c.lower, c.upper);
            if (c.count == 0 && area > widestArea) widest = k, widestArea = area;
        }
        if (widest < 0) break;
        const std::uint32_t opened = bvh.nodes[children[widest]].index;
        children[widest] = opened;
        children[count++] = opened + 1;
    }
    WideNode filled;
    for (int k = 0; k < kWidth; ++k) {
        for (int i = 0; i < 3; ++i) {
            filled.bounds[0][i][k] = std::numeric_limits<float>::infinity();
            filled.bounds[1][i][k] = -std::numeric_limits<float>::infinity();
        }
        filled.index[k] = kEmptySlot;
        filled.count[k] = 0;
    }
    for (int k = 0; k < count; ++k) {
        const BvhNode<float>& c = bvh.nodes[children[k]];
        for (int i = 0; i < 3; ++i) {
            filled.bounds[0][i][k] = c.lower[i];
            filled.bounds[1][i][k] = c.upper[i];
        }
        filled.count[k] = c.count;
        if (c.count > 0) {
            filled.index[k] = c.index;
        } else {
            filled.index[k] = std::uint32_t(wide.size());
            wide.emplace_back();
        }
    }
    wide[at] = filled;
    for (int k = 0; k < count; ++k) {
        if (filled.count[k] == 0) collapseInto(bvh, children[k], filled.index[k], wide);
    }
}

}  // namespace detail

// The binary hierarchy with kWidth children a node; empty for an empty one.
inline std::vector<WideNode> widen(const Bvh<float>& bvh) {
    std::vector<WideNode> wide;
    if (bvh.nodes.empty()) return wide;
    wide.reserve(bvh.nodes.size() / 2 + 1);
    wide.emplace_back();
    detail::collapseInto(bvh, 0, 0, wide);
    wide.shrink_to_fit();
    return wide;
}

}  // namespace math
