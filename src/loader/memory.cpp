// What a network needs, and what the machine can give.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>

#include "base/integers.h"
#include "network_loader.h"

uint64_t networkMemoryNeed(int64_t nodes, int64_t arcs) {
    // Per node: offset, label, per-source sum, heap id and key, settled list,
    // the engine's own label, key and id for narrow widths, and the low halves
    // of the heap's ids.
    const uint64_t per_node = sizeof(int32_t) + sizeof(int64_t) + sizeof(int128) + sizeof(int32_t) +
                              sizeof(int64_t) + sizeof(int32_t) + 3 * sizeof(int32_t) + sizeof(uint16_t);
    // Per arc: the staged triple and its head and length in the table. The
    // engine's copy of head and length (at most 8 bytes) comes after the
    // staged triples are freed.
    const uint64_t per_arc = sizeof(ArcTriple) + 2 * sizeof(int32_t);
    return static_cast<uint64_t>(nodes) * per_node + static_cast<uint64_t>(arcs) * per_arc;
}

uint64_t memory_limit = 0;

uint64_t availableMemory() {
    if (memory_limit != 0) return memory_limit;
    uint64_t available = std::numeric_limits<uint64_t>::max();
    // MemAvailable counts what the kernel can hand out without swapping.
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t kib = 0;
    bool found = false;
    while (!found && meminfo >> key >> kib) {
        found = key == "MemAvailable:";
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (found) {
        available = kib * 1024;
    } else {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long page_size = sysconf(_SC_PAGESIZE);
        if (pages > 0 && page_size > 0) available = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        available = std::min<uint64_t>(available, limit.rlim_cur);
    }
    return available;
}
