#include "cabinet/HuffmanCode.h"

#include <algorithm>
#include <iterator>
#include <numeric>

namespace tirn::cabinet {

namespace {

// Depth of every leaf of a Huffman tree over the weights (all > 0, at least
// two), built with the two-queue method over leaves sorted by weight.
std::vector<int> HuffmanDepths(const std::vector<uint64_t>& weights) {
    const size_t n = weights.size();
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return weights[a] < weights[b]; });
    // Nodes 0..n-1 are the leaves in weight order, n.. the merged ones.
    std::vector<uint64_t> weight(2 * n - 1);
    std::vector<size_t> parent(2 * n - 1, 0);
    for (size_t i = 0; i < n; ++i) weight[i] = weights[order[i]];
    size_t leaf = 0, merged = n, next = n;
    auto take = [&]() {
        if (leaf < n && (merged >= next || weight[leaf] <= weight[merged])) return leaf++;
        return merged++;
    };
    for (; next < 2 * n - 1; ++next) {
        const size_t a = take();
        const size_t b = take();
        weight[next] = weight[a] + weight[b];
        parent[a] = parent[b] = next;
    }
    std::vector<int> depthOfNode(2 * n - 1, 0);
    for (size_t node = 2 * n - 2; node-- > 0;) depthOfNode[node] = depthOfNode[parent[node]] + 1;
    std::vector<int> depths(n);
    for (size_t i = 0; i < n; ++i) depths[order[i]] = depthOfNode[i];
    return depths;
}

// An item of package-merge's lists: a leaf, or a package naming its two
// parts.
struct PackageItem {
    uint64_t weight;
    int32_t first;   // -1 for a leaf
    int32_t second;  // the leaf's index into order, or the second part
};

// A symbol's length: how many of the chosen items hold its leaf.
std::vector<int> DepthsOfChosen(const std::vector<PackageItem>& items, std::vector<int32_t> chosen,
                                const std::vector<size_t>& order) {
    std::vector<int> depths(order.size(), 0);
    while (!chosen.empty()) {
        const PackageItem& item = items[static_cast<size_t>(chosen.back())];
        chosen.pop_back();
        if (item.first < 0) {
            ++depths[order[static_cast<size_t>(item.second)]];
        } else {
            chosen.push_back(item.first);
            chosen.push_back(item.second);
        }
    }
    return depths;
}

// Optimal lengths of at most maxLength bits (package-merge): the cheapest
// 2n - 2 items of a list built maxLength times over, each item a leaf or a
// package of two cheaper items; a symbol's length is how many chosen items
// hold it. Weights all > 0, at least two, and 2^maxLength >= their count.
std::vector<int> LimitedDepths(const std::vector<uint64_t>& weights, int maxLength) {
    const size_t n = weights.size();
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return weights[a] < weights[b]; });
    std::vector<PackageItem> nodes;  // every item ever made
    nodes.reserve(n * static_cast<size_t>(maxLength) * 2);
    std::vector<int32_t> leaves(n);
    for (size_t i = 0; i < n; ++i) {
        leaves[i] = static_cast<int32_t>(nodes.size());
        nodes.push_back({weights[order[i]], -1, static_cast<int32_t>(i)});
    }
    std::vector<int32_t> list = leaves;
    for (int level = 1; level < maxLength; ++level) {
        std::vector<int32_t> packages;
        for (size_t i = 0; i + 1 < list.size(); i += 2) {
            packages.push_back(static_cast<int32_t>(nodes.size()));
            nodes.push_back({nodes[static_cast<size_t>(list[i])].weight +
                                 nodes[static_cast<size_t>(list[i + 1])].weight,
                             list[i], list[i + 1]});
        }
        std::vector<int32_t> merged;
        merged.reserve(n + packages.size());
        std::merge(leaves.begin(), leaves.end(), packages.begin(), packages.end(),
                   std::back_inserter(merged), [&](int32_t a, int32_t b) {
                       return nodes[static_cast<size_t>(a)].weight <
                              nodes[static_cast<size_t>(b)].weight;
                   });
        list = std::move(merged);
    }
    list.resize(2 * n - 2);
    return DepthsOfChosen(nodes, std::move(list), order);
}

}  // namespace

std::vector<uint8_t> CodeLengths(const std::vector<uint32_t>& frequencies, int maxLength) {
    std::vector<uint64_t> weights(frequencies.begin(), frequencies.end());
    std::vector<size_t> used;
    for (size_t i = 0; i < weights.size(); ++i) {
        if (weights[i] > 0) used.push_back(i);
    }
    for (size_t i = 0; used.size() < 2 && i < weights.size(); ++i) {
        if (weights[i] == 0) {
            weights[i] = 1;
            used.push_back(i);
        }
    }
    std::sort(used.begin(), used.end());
    std::vector<uint64_t> present;
    for (size_t symbol : used) present.push_back(weights[symbol]);
    // A Huffman code is optimal; only when it is too deep are the lengths
    // limited, optimally again.
    std::vector<int> depths = HuffmanDepths(present);
    if (*std::max_element(depths.begin(), depths.end()) > maxLength) {
        depths = LimitedDepths(present, maxLength);
    }
    std::vector<uint8_t> lengths(frequencies.size(), 0);
    for (size_t i = 0; i < used.size(); ++i) lengths[used[i]] = static_cast<uint8_t>(depths[i]);
    return lengths;
}

std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    int count[33] = {};
    for (uint8_t length : lengths) ++count[length];
    count[0] = 0;
    uint32_t next[33] = {};
    uint32_t code = 0;
    for (int length = 1; length <= 32; ++length) {
        code = (code + static_cast<uint32_t>(count[length - 1])) << 1;
        next[length] = code;
    }
    std::vector<uint16_t> codes(lengths.size(), 0);
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        if (lengths[symbol] != 0) codes[symbol] = static_cast<uint16_t>(next[lengths[symbol]]++);
    }
    return codes;
}

}  // namespace tirn::cabinet
