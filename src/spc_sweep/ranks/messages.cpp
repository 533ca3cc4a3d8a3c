// A chunk's record as the numbers of a message between ranks.
#include "ranks.h"

#include <cstring>

std::vector<uint64_t> packRecord(const ChunkRecord& r) {
    std::vector<uint64_t> message = {static_cast<uint64_t>(r.chunk.id), static_cast<uint64_t>(r.chunk.repetition),
                                     static_cast<uint64_t>(r.chunk.first), static_cast<uint64_t>(r.chunk.last),
                                     r.cpu_ns};
    message.reserve(5 + 6 * r.sources.size());
    for (const SourceFigures& f : r.sources) {
        const auto sum = static_cast<uint128>(f.sum);
        uint64_t harmonic = 0;
        std::memcpy(&harmonic, &f.harmonic, sizeof harmonic);
        message.insert(message.end(), {static_cast<uint64_t>(f.reached), static_cast<uint64_t>(sum),
                                       static_cast<uint64_t>(sum >> 64), static_cast<uint64_t>(f.largest),
                                       static_cast<uint64_t>(f.scans), harmonic});
    }
    return message;
}

bool unpackRecord(const std::vector<uint64_t>& m, ChunkRecord& r) {
    if (m.size() < 5 || (m.size() - 5) % 6 != 0) return false;
    r.chunk.id = static_cast<int64_t>(m[0]);
    r.chunk.repetition = static_cast<int32_t>(m[1]);
    r.chunk.first = static_cast<int64_t>(m[2]);
    r.chunk.last = static_cast<int64_t>(m[3]);
    r.cpu_ns = m[4];
    r.sources.resize((m.size() - 5) / 6);
    for (size_t i = 0; i < r.sources.size(); ++i) {
        const uint64_t* f = &m[5 + 6 * i];
        r.sources[i] = {static_cast<int64_t>(f[0]), static_cast<int128>(static_cast<uint128>(f[2]) << 64 | f[1]),
                        static_cast<int64_t>(f[3]), static_cast<int64_t>(f[4])};
        std::memcpy(&r.sources[i].harmonic, &f[5], sizeof(double));
    }
    return true;
}

std::string mebibytes(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }
