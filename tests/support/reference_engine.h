// The single-source run written the plain way, step by step: a heap of node ids
// in a growable array, keys read from the label array at every comparison, a
// swap per step. The fast engine must agree with it exactly, heap layout
// included, also with negative lengths.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "state/program_state.h"

struct ReferenceRun {
    std::vector<int32_t> heap{0};  // position 0 is a placeholder
    std::vector<int64_t> label;
    int64_t scans = 0;
    // Called after every heap operation with the heap's ids (positions 1..k).
    std::function<void(const std::vector<int32_t>&)> observe;
    // The network it runs over: the program's unless another is given.
    const Network* network = &program_network;

    int64_t key(size_t i) const { return label[static_cast<size_t>(heap[i]) - 1]; }
    size_t count() const { return heap.size() - 1; }

    void minHeapify(size_t i, size_t k) {
        for (;;) {
            const size_t l = 2 * i, r = 2 * i + 1;
            size_t smallest = (l <= k && key(l) <= key(i)) ? l : i;
            if (r <= k && key(r) <= key(smallest)) smallest = r;
            if (smallest == i) return;
            std::swap(heap[i], heap[smallest]);
            i = smallest;
        }
    }
    void decreaseKey(size_t i, int64_t k) {
        const int32_t v = heap[i];
        label[static_cast<size_t>(v) - 1] = k;
        while (i > 1 && k < key(i / 2)) {
            heap[i] = heap[i / 2];
            heap[i / 2] = v;
            i /= 2;
        }
    }
    void insertNode(int32_t v, int64_t k) {
        heap.push_back(v);
        decreaseKey(count(), k);
    }
    int32_t extractMin() {
        const int32_t root = heap[1];
        heap[1] = heap.back();
        heap.pop_back();
        minHeapify(1, count());
        return root;
    }
    void seen() {
        if (observe) observe(heap);
    }

    // Labels from source s over the network's arc table.
    void run(int32_t s) {
        const std::vector<int32_t>& point = network->point;
        const std::vector<int32_t>& graph_head = network->head;
        const std::vector<int32_t>& graph_length = network->length;
        heap.assign(1, 0);
        label.assign(static_cast<size_t>(network->nodes), M);
        label[static_cast<size_t>(s) - 1] = 0;
        heap.push_back(s);
        seen();
        while (count() > 0) {
            const int32_t u = extractMin();
            seen();
            for (int32_t e = point[u - 1]; e < point[u]; ++e) {
                ++scans;
                const int32_t v = graph_head[e];
                const int64_t candidate = label[static_cast<size_t>(u) - 1] + graph_length[e];
                if (candidate >= label[static_cast<size_t>(v) - 1]) continue;
                if (label[static_cast<size_t>(v) - 1] == M) {
                    insertNode(v, candidate);
                    seen();
                } else {
                    for (size_t j = 1; j <= count(); ++j) {
                        if (heap[j] == v) {
                            decreaseKey(j, candidate);
                            seen();
                            break;
                        }
                    }
                }
            }
        }
    }
};
