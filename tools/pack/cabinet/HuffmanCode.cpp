#include "HuffmanCode.h"

#include <algorithm>
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
    std::vector<uint8_t> lengths(frequencies.size(), 0);
    for (;;) {
        std::vector<uint64_t> present;
        for (size_t symbol : used) present.push_back(weights[symbol]);
        const std::vector<int> depths = HuffmanDepths(present);
        if (*std::max_element(depths.begin(), depths.end()) <= maxLength) {
            for (size_t i = 0; i < used.size(); ++i)
                lengths[used[i]] = static_cast<uint8_t>(depths[i]);
            return lengths;
        }
        // Too deep: flatten the weights and build again. Halving (never to
        // zero) keeps the order and shrinks the spread, so depth falls.
        for (size_t symbol : used) weights[symbol] = (weights[symbol] + 1) / 2;
    }
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
