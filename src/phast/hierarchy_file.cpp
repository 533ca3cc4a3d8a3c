#include "hierarchy_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr char kMagic[16] = {'s', 'p', 'c', ' ', 'h', 'i', 'e', 'r', 'a', 'r', 'c', 'h', 'y', '\n', 0, 0};
constexpr uint64_t kByteOrder = 0x0102030405060708u;
constexpr size_t kHeaderBytes = sizeof kMagic + 8 * 8;

// A 64-bit hash of words, FNV-1a's way: fast enough for gigabytes.
uint64_t checksumOf(const unsigned char* data, uint64_t bytes) {
    uint64_t value = 14695981039346656037u;
    for (uint64_t i = 0; i + 8 <= bytes; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        value = (value ^ word) * 1099511628211u;
    }
    return value;  // bytes is a multiple of 8
}

uint64_t padded(uint64_t bytes) { return (bytes + 7) / 8 * 8; }

// Where each array starts in an image of these counts; `end` is where the
// checksum goes.
struct Places {
    uint64_t up_first, up_length, down_first, down_length, original, index_of, out_degree, up_head, down_tail, end;
};

Places placesOf(uint64_t n, uint64_t up, uint64_t down) {
    Places p{};
    uint64_t at = kHeaderBytes;
    const auto next = [&at](uint64_t bytes) {
        const uint64_t here = at;
        at += padded(bytes);
        return here;
    };
    p.up_first = next(8 * (n + 1));
    p.up_length = next(8 * up);
    p.down_first = next(8 * (n + 1));
    p.down_length = next(8 * down);
    p.original = next(4 * n);
    p.index_of = next(4 * n);
    p.out_degree = next(4 * n);
    p.up_head = next(4 * up);
    p.down_tail = next(4 * down);
    p.end = at;
    return p;
}

// The arrays' own rules: offsets that rise to the counts, ids in range, every
// downward arc from a smaller index (what the pass relies on).
bool consistent(const HierarchyView& h) {
    const int64_t n = h.nodes;
    if (h.up_first[0] != 0 || h.down_first[0] != 0 || h.up_first[n] != h.up_arcs || h.down_first[n] != h.down_arcs) {
        return false;
    }
    for (int64_t i = 0; i < n; ++i) {
        const int32_t v = h.original[i];
        if (v < 1 || v > n || h.index_of[v - 1] != i || h.out_degree[i] < 0 || h.up_first[i + 1] < h.up_first[i] ||
            h.down_first[i + 1] < h.down_first[i]) {
            return false;
        }
        for (int64_t e = h.up_first[i]; e < h.up_first[i + 1]; ++e) {
            if (h.up_head[e] < 0 || h.up_head[e] >= n || h.up_length[e] < 0) return false;
        }
        for (int64_t e = h.down_first[i]; e < h.down_first[i + 1]; ++e) {
            if (h.down_tail[e] < 0 || h.down_tail[e] >= i || h.down_length[e] < 0) return false;
        }
    }
    return true;
}

template <typename T>
void put(HierarchyImage& image, uint64_t at, const std::vector<T>& v) {
    if (!v.empty()) std::memcpy(image.data() + at, v.data(), v.size() * sizeof(T));
}

// The header's words, or why they are refused.
std::string readHeader(const unsigned char* header, const NetworkFingerprint& network, uint64_t words[8]) {
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return "it is not a hierarchy of spc_sweep";
    std::memcpy(words, header + sizeof kMagic, 8 * 8);
    if (words[1] != kByteOrder) return "it was written on a machine of the other byte order";
    if (words[0] != kHierarchyFileVersion) return "it is of format " + std::to_string(words[0]) + ", not of this one";
    if (words[2] != static_cast<uint64_t>(network.nodes) || words[3] != static_cast<uint64_t>(network.arcs) ||
        words[4] != network.hash) {
        return "it is of another network";
    }
    // No hierarchy of ours has more arcs than 2^40: the sizes stay far from overflow.
    if (words[5] != words[2] || words[6] > (uint64_t{1} << 40) || words[7] > (uint64_t{1} << 40)) return "it is damaged";
    return {};
}

}  // namespace

HierarchyImage imageOf(const Hierarchy& h) {
    const Places p = placesOf(static_cast<uint64_t>(h.nodes), h.up_head.size(), h.down_tail.size());
    HierarchyImage image(p.end + 8, 0);
    std::memcpy(image.data(), kMagic, sizeof kMagic);
    const uint64_t words[8] = {kHierarchyFileVersion,
                               kByteOrder,
                               static_cast<uint64_t>(h.network.nodes),
                               static_cast<uint64_t>(h.network.arcs),
                               h.network.hash,
                               static_cast<uint64_t>(h.nodes),
                               static_cast<uint64_t>(h.up_head.size()),
                               static_cast<uint64_t>(h.down_tail.size())};
    std::memcpy(image.data() + sizeof kMagic, words, sizeof words);
    put(image, p.up_first, h.up_first);
    put(image, p.up_length, h.up_length);
    put(image, p.down_first, h.down_first);
    put(image, p.down_length, h.down_length);
    put(image, p.original, h.original);
    put(image, p.index_of, h.index_of);
    put(image, p.out_degree, h.out_degree);
    put(image, p.up_head, h.up_head);
    put(image, p.down_tail, h.down_tail);
    const uint64_t sum = checksumOf(image.data(), p.end);
    std::memcpy(image.data() + p.end, &sum, 8);
    return image;
}

std::string viewImage(const unsigned char* image, uint64_t bytes, const NetworkFingerprint& network,
                      HierarchyView& view) {
    uint64_t words[8];
    if (bytes < kHeaderBytes) return "it is cut short";
    std::string why = readHeader(image, network, words);
    if (!why.empty()) return why;
    const Places p = placesOf(words[5], words[6], words[7]);
    if (bytes < p.end + 8) return "it is cut short";
    if (bytes > p.end + 8) return "it is damaged";
    uint64_t stored;
    std::memcpy(&stored, image + p.end, 8);
    if (stored != checksumOf(image, p.end)) return "it is damaged";
    HierarchyView v;
    v.network = network;
    v.nodes = static_cast<int32_t>(words[5]);
    v.up_arcs = static_cast<int64_t>(words[6]);
    v.down_arcs = static_cast<int64_t>(words[7]);
    // The image is 8-byte aligned and every array starts on 8 bytes.
    v.up_first = reinterpret_cast<const int64_t*>(image + p.up_first);
    v.up_length = reinterpret_cast<const int64_t*>(image + p.up_length);
    v.down_first = reinterpret_cast<const int64_t*>(image + p.down_first);
    v.down_length = reinterpret_cast<const int64_t*>(image + p.down_length);
    v.original = reinterpret_cast<const int32_t*>(image + p.original);
    v.index_of = reinterpret_cast<const int32_t*>(image + p.index_of);
    v.out_degree = reinterpret_cast<const int32_t*>(image + p.out_degree);
    v.up_head = reinterpret_cast<const int32_t*>(image + p.up_head);
    v.down_tail = reinterpret_cast<const int32_t*>(image + p.down_tail);
    if (!consistent(v)) return "it is damaged";
    view = v;
    return {};
}

std::string saveImage(const HierarchyImage& image, std::FILE* out) {
    errno = 0;
    if (std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fflush(out) != 0) {
        return std::strerror(errno != 0 ? errno : EIO);
    }
    return {};
}

std::string saveHierarchy(const Hierarchy& hierarchy, std::FILE* out) { return saveImage(imageOf(hierarchy), out); }

std::string loadImage(std::FILE* in, const NetworkFingerprint& network, HierarchyImage& image, HierarchyView& view) {
    unsigned char header[kHeaderBytes];
    uint64_t words[8];
    errno = 0;
    const size_t got = std::fread(header, 1, sizeof header, in);
    if (got < sizeof header) {
        if (std::ferror(in)) return std::strerror(errno != 0 ? errno : EIO);
        return std::memcmp(header, kMagic, std::min(got, sizeof kMagic)) != 0 ? "it is not a hierarchy of spc_sweep"
                                                                            : "it is cut short";
    }
    std::string why = readHeader(header, network, words);
    if (!why.empty()) return why;
    const uint64_t bytes = placesOf(words[5], words[6], words[7]).end + 8;
    struct stat st{};
    if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) != bytes) {
        return static_cast<uint64_t>(st.st_size) < bytes ? "it is cut short" : "it is damaged";
    }
    HierarchyImage read;
    read.resize(bytes);
    std::memcpy(read.data(), header, sizeof header);
    const size_t rest = bytes - sizeof header;
    if (std::fread(read.data() + sizeof header, 1, rest, in) != rest) {
        return std::ferror(in) ? std::strerror(errno != 0 ? errno : EIO) : "it is cut short";
    }
    char extra;
    if (std::fread(&extra, 1, 1, in) != 0) return "it is damaged";  // longer than its counts say
    HierarchyView v;
    why = viewImage(read.data(), read.size(), network, v);
    if (!why.empty()) return why;
    image = std::move(read);  // the view's pointers move with the storage
    view = v;
    return {};
}

std::string loadImage(const std::string& path, const NetworkFingerprint& network, HierarchyImage& image,
                      HierarchyView& view) {
    errno = 0;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return std::strerror(errno != 0 ? errno : ENOENT);
    const std::string why = loadImage(in, network, image, view);
    std::fclose(in);
    return why;
}
