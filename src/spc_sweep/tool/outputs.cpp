#include "outputs.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>
#include <vector>

#ifdef SPC_HAVE_JSON
#include <nlohmann/json.hpp>
#endif

#include "spc_sweep/checkpoint/durable_files.h"
#include "report/report.h"
#include "spc_sweep/checkpoint/checkpoint_format.h"
#include "spc_sweep/ranks/signals.h"

namespace {

// Whether the directory takes a new file whose name is as long as `longest`:
// makes one of that length and removes it.
std::string takesNewFiles(const std::string& dir, size_t longest) {
    std::string probe = dir + "/.spc_sweep-probe-";
    probe += std::string(longest > 23 ? longest - 23 : 0, 'x');  // 23: the rest of the name
    probe += "XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

// The longest name a file may have in dir (its file system's limit).
size_t longestName(const std::string& dir) {
    const long most = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    return most > 0 ? static_cast<size_t>(most) : 255;
}

// Whether the file, with `extra` characters added to its name, fits the
// limits of names and paths. Empty string or what is too long.
std::string nameFits(const std::string& option, const std::string& path, size_t extra) {
    const std::string name = baseNameOf(path);
    const size_t most = longestName(directoryOf(path));
    if (name.size() + extra > most) {
        return option + " " + path + ": its name is too long for its file system (" + std::to_string(name.size()) +
               " characters; with the " + std::to_string(extra) + " of a temporary file at most " +
               std::to_string(most) + ")";
    }
    if (absolutePath(path).size() + extra >= PATH_MAX) return option + " " + path + ": the path is too long";
    return {};
}

// A file as something to compare: its device and inode when it exists, and
// its absolute path.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;
    bool same(const FileIdentity& o) const {
        return (exists && o.exists) ? device == o.device && inode == o.inode : path == o.path;
    }
};

FileIdentity identityOf(const std::string& path) {
    FileIdentity id;
    struct stat st {};
    id.exists = ::stat(path.c_str(), &st) == 0;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.path = absolutePath(path);
    return id;
}

}  // namespace

std::string absolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : resolved).string();
}

std::string checkAppendable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "it is a directory";
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return std::strerror(errno);
        ::close(fd);
        return {};
    }
    if (errno != ENOENT) return std::strerror(errno);
    return takesNewFiles(directoryOf(path), baseNameOf(path).size());
}

std::string checkReplaceable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "it is a directory";
    return takesNewFiles(directoryOf(path), baseNameOf(path).size() + kTemporarySuffix);
}

std::string checkDirectory(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) return error.message();
    if (!std::filesystem::is_directory(dir, error)) return "it is not a directory";
    return takesNewFiles(dir, longestCheckpointName() + kTemporarySuffix);
}

std::string checkOutputsApart(const SweepOptions& o) {
    struct Output {
        std::string option;  // what names it: "--log FILE"
        FileIdentity file;
        bool per_source;  // those of a network named twice are one file, the same
    };
    std::vector<Output> outputs;
    std::string why = nameFits("--log", o.log_file, 0);
    outputs.push_back({"--log " + o.log_file, identityOf(o.log_file), false});
    if (why.empty() && !o.json_file.empty()) {
        why = nameFits("--json", o.json_file, 0);
        outputs.push_back({"--json " + o.json_file, identityOf(o.json_file), false});
    }
    if (why.empty() && !o.checkpoint_dir.empty()) {
        why = nameFits("--checkpoint", o.checkpoint_dir + "/" + std::string(longestCheckpointName(), 'x'),
                       kTemporarySuffix);
    }
    for (size_t i = 0; why.empty() && !o.per_source.empty() && i < o.networks.size(); ++i) {
        const std::string path = perSourcePath(o.per_source, o.networks[i]);
        why = nameFits("--per-source", path, kTemporarySuffix);
        outputs.push_back({"--per-source " + path, identityOf(path), true});
    }
    if (!why.empty()) return why;
    for (const std::string& network : o.networks) {
        const FileIdentity input = identityOf(network);
        for (const Output& output : outputs) {
            if (output.file.same(input)) return output.option + " would overwrite the network " + network + " of this command";
        }
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (!(outputs[i].per_source && outputs[j].per_source) && outputs[i].file.same(outputs[j].file)) {
                return outputs[j].option + " would write the file of " + outputs[i].option;
            }
        }
    }
    return {};
}

namespace {

// 17 significant digits: the double read back is the one computed. "-" for
// a source whose figures came from a checkpoint of an earlier spc_sweep.
std::string harmonicText(const SourceFigures& f) {
    if (!f.harmonicKnown()) return "-";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", f.harmonic);
    return text;
}

}  // namespace

std::string writePerSourceFile(const std::string& path, const std::string& network, int64_t nodes, int64_t arcs,
                               const SweepTally& tally, const ChosenSources& chosen, uint64_t& size, uint64_t& hash) {
    removeLeftoverTemporaries(path);
    Fnv64 f;
    size = 0;
    const auto put = [&](std::FILE* out, const std::string& text) {
        f.add(text.data(), text.size());
        size += text.size();
        return std::fwrite(text.data(), 1, text.size(), out) == text.size();
    };
    const std::string error = writeFileSafely(path, [&](std::FILE* out) {
        std::vector<char> buffer(1 << 20);
        std::setvbuf(out, buffer.data(), _IOFBF, buffer.size());
        bool ok = put(out, "# spc_sweep per-source figures of " + network + ": " + std::to_string(nodes) + " nodes, " +
                               std::to_string(arcs) + " arcs" + (chosen.all() ? "" : "; " + chosen.words()) + "\n") &&
                  put(out, "# source\treached\tsum\tlargest\tharmonic\n");
        for (int64_t s = 1; ok && s <= tally.nodes(); ++s) {
            if (s % 65536 == 0 && interruption() != 0) ok = false;  // a stop: the temporary goes
            const SourceFigures fig = tally.figures(s);
            ok = ok && put(out, std::to_string(chosen.node(s)) + "\t" + std::to_string(fig.reached) + "\t" + formatInteger(fig.sum) +
                                    "\t" + std::to_string(fig.largest) + "\t" + harmonicText(fig) + "\n");
        }
        ok = ok && std::fflush(out) == 0;
        std::setvbuf(out, nullptr, _IONBF, 0);  // the buffer goes before the file is closed
        return ok;
    });
    hash = f.hash;
    if (error.empty() || interruption() == 0) return error;
    return std::string("stopped by ") + signalName(interruption());
}

std::string isoTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
}

#ifdef SPC_HAVE_JSON
bool jsonRecordsBuilt() { return true; }

std::string jsonText(const JsonRecord& r) {
    nlohmann::ordered_json j;
    j["network"] = r.network;
    if (r.method == "phast") {  // a record without a method is the heap method's, as ever
        j["method"] = r.method;
        j["hierarchy_build_seconds"] =
            r.hierarchy_seconds >= 0 ? nlohmann::ordered_json(r.hierarchy_seconds) : nlohmann::ordered_json(nullptr);
        j["hierarchy_bytes"] = r.hierarchy_bytes > 0 ? nlohmann::ordered_json(r.hierarchy_bytes) : nlohmann::ordered_json(nullptr);
    }
    j["sum_of_distances"] = formatInteger(r.sum);
    j["time_per_sweep_ms"] = static_cast<double>(r.time_per_sweep);
    j["trivial_triple_comparisons"] = r.trivial;
    j["nontrivial_triple_comparisons"] = formatInteger(r.nontrivial);
    j["largest_eccentricity"] = r.diameter;
    j["radius"] = r.radius >= 0 ? nlohmann::ordered_json(r.radius) : nlohmann::ordered_json(nullptr);
    j["ranks"] = r.ranks;
    j["threads"] = r.threads;
    j["repetitions"] = r.repetitions;
    j["wall_clock_seconds"] = r.wall_seconds;
    j["processor_seconds"] = r.processor_seconds;
    j["source_runs_resumed"] = r.resumed;
    j["started"] = r.started;
    j["ended"] = r.ended;
    j["host"] = r.host;
    if (r.chosen_sources > 0) {
        j["chosen_sources"] = r.chosen_sources;
        j["sources"] = r.sources;
        if (!r.estimated_sum.empty()) {
            j["estimated_sum_of_distances"] = r.estimated_sum;
            j["estimate_interval_95"] = r.estimate_low.empty() ? nlohmann::ordered_json(nullptr)
                                                               : nlohmann::ordered_json({r.estimate_low, r.estimate_high});
        }
    }
    j["version"] = SPC_VERSION;
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
#else
bool jsonRecordsBuilt() { return false; }
std::string jsonText(const JsonRecord&) { return {}; }
#endif
