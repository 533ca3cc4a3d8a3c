// spc_gen: writes a seeded network of a chosen family in the format spc_heap1 reads.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "compressed/compressed_output.h"
#include "compressed/network_file.h"
#include "network_generator.h"
#include "tiles.h"

namespace {

const char* const kUsage =
    "usage: spc_gen FAMILY SIZES [--seed S] [--lengths LO HI] [-o FILE]\n"
    "       spc_gen tiles NETWORK A B [--seed S] [-o FILE]\n"
    "  grid W H      W x H nodes, arcs both ways between horizontal and vertical neighbours\n"
    "  road W H      W x H nodes, each row a street both ways, a third of the columns\n"
    "                linked both ways between neighbouring rows, at random\n"
    "  random N M    the cycle 1 -> 2 -> ... -> N -> 1, then M-N arcs with random tail and head\n"
    "  complete N    every ordered pair of distinct nodes\n"
    "  path N        1 -> 2 -> ... -> N\n"
    "  tiles NETWORK A B  A x B copies of the network in the file NETWORK, each joined to its\n"
    "                right and lower neighbours by a few two-way arcs between random nodes,\n"
    "                of lengths drawn from the network's own\n"
    "  --seed S      seed of the random lengths and arcs (default 1)\n"
    "  --lengths LO HI  arc lengths drawn uniformly from LO..HI (default 1 100)\n"
    "  -o FILE       write to FILE instead of standard output; a FILE ending in .gz, .xz\n"
    "                or .bz2 is written compressed with gzip, xz or bzip2\n"
    "  NETWORK may be plain text or compressed with gzip, xz or bzip2.\n";

int usageError(const std::string& why) {
    std::fprintf(stderr, "spc_gen: %s (spc_gen --help for usage)\n", why.c_str());
    return 2;
}

template <typename T>
bool parseNumber(const char* text, T& out) {
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, out);
    return result.ec == std::errc() && result.ptr == end && end != text;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    NetworkSpec spec;
    std::string output;
    std::vector<const char*> sizes;
    bool lengths_given = false;
    std::string tiles_comment;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const size_t left = args.size() - i - 1;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--seed") {
            if (left < 1 || !parseNumber(argv[i + 2], spec.seed)) return usageError("--seed needs a whole number");
            i += 1;
        } else if (a == "--lengths") {
            if (left < 2 || !parseNumber(argv[i + 2], spec.min_length) || !parseNumber(argv[i + 3], spec.max_length)) {
                return usageError("--lengths needs two whole numbers LO HI");
            }
            lengths_given = true;
            i += 2;
        } else if (a == "-o") {
            if (left < 1) return usageError("-o needs a file name");
            output = args[++i];
        } else if (a.size() > 1 && a[0] == '-' && (a[1] < '0' || a[1] > '9')) {
            return usageError("unknown option " + a);
        } else if (spec.family.empty()) {
            spec.family = a;
        } else {
            sizes.push_back(argv[i + 1]);
        }
    }
    if (spec.family.empty()) return usageError("no family given");
    Network base;  // tiles: the network tiled, named by the first size
    int64_t across = 0, down = 0;
    if (spec.family == "tiles") {
        if (sizes.size() != 3) return usageError("tiles takes a network file and two sizes");
        if (!parseNumber(sizes[1], across) || !parseNumber(sizes[2], down)) return usageError("sizes must be whole numbers");
        if (lengths_given) return usageError("tiles takes its lengths from the network: no --lengths");
        const std::string why = readNetworkFile(sizes[0], base);
        if (!why.empty()) {
            std::fprintf(stderr, "spc_gen: %s: %s\n", sizes[0], why.c_str());
            return 1;
        }
        const std::string unfit = checkTiles(base, across, down);
        if (!unfit.empty()) return usageError(unfit);
        tiles_comment = "spc_gen tiles " + std::string(sizes[0]) + " " + sizes[1] + " " + sizes[2] + " --seed " +
                        std::to_string(spec.seed);
    }
    const size_t wanted = hasTwoSizes(spec.family) ? 2 : 1;
    if (checkSpec(NetworkSpec{spec.family, 1, 1, 1, 1, 1}).empty()) {  // a known family
        if (sizes.size() != wanted) {
            return usageError(spec.family + " takes " + std::to_string(wanted) + " size" + (wanted == 2 ? "s" : ""));
        }
        if (!parseNumber(sizes[0], spec.first) || (wanted == 2 && !parseNumber(sizes[1], spec.second))) {
            return usageError("sizes must be whole numbers");
        }
    }
    const std::string why = spec.family == "tiles" ? "" : checkSpec(spec);
    if (!why.empty()) return usageError(why);

    // Only a regular file (or a new one) is removed after a failed write: never a device.
    struct stat target {};
    const bool removable = !output.empty() && (stat(output.c_str(), &target) != 0 || S_ISREG(target.st_mode));

    const Compression packing = compressionNamed(output);
    if (packing == Compression::other) return usageError("-o writes plain text, .gz, .xz or .bz2, not " + output);
    std::string cannot;
    std::FILE* out = output.empty() ? stdout
                     : packing == Compression::none ? std::fopen(output.c_str(), "wb")
                                                    : openCompressedOutput(output, packing, cannot);
    if (out == nullptr) {
        std::fprintf(stderr, "spc_gen: cannot open %s for writing: %s\n", output.c_str(),
                     cannot.empty() ? std::strerror(errno) : cannot.c_str());
        return 1;
    }
    bool ok = spec.family == "tiles" ? writeTiles(out, base, across, down, spec.seed, tiles_comment) : writeNetwork(out, spec);
    ok = (std::fflush(out) == 0) && ok;
    if (!output.empty()) ok = (std::fclose(out) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "spc_gen: write error on %s: %s\n", output.empty() ? "standard output" : output.c_str(),
                     std::strerror(errno));
        if (removable) std::remove(output.c_str());  // no partial file that looks complete
        return 1;
    }
    return 0;
}
