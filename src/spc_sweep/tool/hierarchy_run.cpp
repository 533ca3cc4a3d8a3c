#include "hierarchy_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "phast/contraction.h"
#include "phast/phast_engine.h"
#include "say.h"
#include "spc_sweep/checkpoint/checkpoint_format.h"
#include "spc_sweep/checkpoint/durable_files.h"
#include "spc_sweep/ranks/ranks.h"
#include "spc_sweep/ranks/signals.h"

namespace {

bool hasNegativeLength(const Network& network) {
    for (const int32_t length : network.length) {
        if (length < 0) return true;
    }
    return false;
}

// The kept file, when there is one: "" when it was taken, "absent", or why
// it was refused.
std::string loadKept(const std::string& path, const Network& network, HierarchyImage& image) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? "absent" : std::string("it cannot be opened: ") + std::strerror(errno);
    std::string why = checkTrusted(fd);
    if (!why.empty()) {
        ::close(fd);
        return why;
    }
    std::FILE* in = ::fdopen(fd, "rb");
    if (in == nullptr) {
        ::close(fd);
        return "it cannot be read";
    }
    HierarchyView view;
    why = loadImage(in, fingerprintOf(network), image, view);
    std::fclose(in);
    if (!why.empty()) image = {};
    return why;
}

}  // namespace

std::string hierarchyWords(const PreparedHierarchy& h) {
    return std::string("method phast, its hierarchy ") +
           (h.loaded ? "loaded from its file" : "built in " + plainSeconds(h.build_seconds) + " s") + ", " +
           mebibytes(h.image.size());
}

std::string prepareHierarchy(const std::string& name, const SweepOptions& o, const Network& network,
                             PreparedHierarchy& out) {
    if (hasNegativeLength(network)) {
        return "the method phast needs lengths >= 0, and this network has a negative one; --method heap sweeps it";
    }
    const std::string path = o.checkpoint_dir.empty() ? "" : hierarchyPath(o.checkpoint_dir, fingerprintOf(network));
    if (!path.empty()) {
        const std::string why = loadKept(path, network, out.image);
        if (why.empty()) {
            out.loaded = true;
            return {};
        }
        if (why != "absent") complain(name, "the hierarchy file " + path + " is not used (" + why + "); it is built again");
    }
    ContractionLimits limits;
    limits.keep_going = [] { return interruption() == 0; };
    Hierarchy hierarchy;
    const ContractionReport report = buildHierarchy(network, limits, hierarchy);
    if (!report.built && interruption() != 0) {
        return std::string("stopped by ") + signalName(interruption()) + " while its hierarchy was built";
    }
    if (!report.built) {
        return "the method phast does not suit this network: its hierarchy was not built, as " + report.why_not +
               " (" + describe(report, network) + "); --method heap sweeps it";
    }
    out.build_seconds = report.seconds;
    out.image = imageOf(hierarchy);
    if (!path.empty()) {
        removeLeftoverTemporaries(path);
        const std::string error =
            writeFileSafely(path, [&](std::FILE* f) { return saveImage(out.image, f).empty() && interruption() == 0; });
        if (!error.empty()) complain(name, "the hierarchy cannot be kept in " + path + ": " + error + "; the sweep goes on");
    }
    return {};
}

std::string shareHierarchy(const PreparedHierarchy& h, const Network& network, uint64_t rank_zero_extra, int threads,
                           HierarchyView& view) {
    const bool zero = myRank() == 0;
    const NetworkFingerprint mine = zero ? fingerprintOf(network) : NetworkFingerprint{};
    const NetworkFingerprint of{shareNumber(mine.nodes), shareNumber(mine.arcs),
                                static_cast<uint64_t>(shareNumber(static_cast<int64_t>(mine.hash)))};
    const uint64_t size = static_cast<uint64_t>(shareNumber(static_cast<int64_t>(h.image.size())));
    const uint64_t engines = static_cast<uint64_t>(threads) * PhastEngine::bytesFor(of.nodes, kMostTrees);
    const unsigned char* copy = nullptr;
    const std::string why = shareBlock(zero ? h.image.data() : nullptr, size, rank_zero_extra, engines, copy);
    if (!why.empty()) return why;
    const std::string refused = viewImage(copy, size, of, view);
    if (!allRanksAgree(refused.empty())) {
        releaseNetworkCopy();
        return "a rank's copy of the hierarchy is refused" + (refused.empty() ? std::string() : ": " + refused);
    }
    return {};
}
