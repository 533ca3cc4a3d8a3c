#include "sweep_outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#ifdef SPC_HAVE_JSON
#include <nlohmann/json.hpp>
#endif

#include "checkpoint_file.h"
#include "report/report.h"
#include "sweep_options.h"

namespace {

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether the directory takes a new file: makes one and removes it.
std::string takesNewFiles(const std::string& dir) {
    std::string probe = dir + "/.spc_sweep-probe-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

}  // namespace

std::string appendLine(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int write_errno = errno;
    if (::close(fd) != 0 && written == static_cast<ssize_t>(line.size())) return std::strerror(errno);
    if (written != static_cast<ssize_t>(line.size())) return written < 0 ? std::strerror(write_errno) : "short write";
    return {};
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
    return takesNewFiles(directoryOf(path));
}

std::string checkReplaceable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "it is a directory";
    return takesNewFiles(directoryOf(path));
}

std::string checkDirectory(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) return error.message();
    if (!std::filesystem::is_directory(dir, error)) return "it is not a directory";
    return takesNewFiles(dir);
}

std::string writePerSourceFile(const std::string& path, const std::string& network, int64_t nodes, int64_t arcs,
                               const SweepTally& tally) {
    return writeFileSafely(path, [&](std::FILE* out) {
        std::vector<char> buffer(1 << 20);
        std::setvbuf(out, buffer.data(), _IOFBF, buffer.size());
        std::fprintf(out, "# spc_sweep per-source figures of %s: %lld nodes, %lld arcs\n", network.c_str(),
                     static_cast<long long>(nodes), static_cast<long long>(arcs));
        std::fprintf(out, "# source\treached\tsum\tlargest\n");
        for (int64_t s = 1; s <= nodes; ++s) {
            const SourceFigures f = tally.figures(s);
            if (std::fprintf(out, "%lld\t%lld\t%s\t%lld\n", static_cast<long long>(s), static_cast<long long>(f.reached),
                             formatInteger(f.sum).c_str(), static_cast<long long>(f.largest)) < 0) {
                return false;
            }
        }
        const bool ok = std::fflush(out) == 0;
        std::setvbuf(out, nullptr, _IONBF, 0);  // the buffer goes before the file is closed
        return ok;
    });
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
    j["sum_of_distances"] = formatInteger(r.sum);
    j["time_per_sweep_ms"] = static_cast<double>(r.time_per_sweep);
    j["trivial_triple_comparisons"] = r.trivial;
    j["nontrivial_triple_comparisons"] = formatInteger(r.nontrivial);
    j["largest_eccentricity"] = r.diameter;
    j["radius"] = r.radius >= 0 ? nlohmann::ordered_json(r.radius) : nlohmann::ordered_json(nullptr);
    j["ranks"] = r.ranks;
    j["repetitions"] = r.repetitions;
    j["wall_clock_seconds"] = r.wall_seconds;
    j["processor_seconds"] = r.processor_seconds;
    j["source_runs_resumed"] = r.resumed;
    j["started"] = r.started;
    j["ended"] = r.ended;
    j["host"] = r.host;
    j["version"] = SPC_VERSION;
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
#else
bool jsonRecordsBuilt() { return false; }
std::string jsonText(const JsonRecord&) { return {}; }
#endif

std::string appendJsonRecord(const std::string& path, const JsonRecord& record) {
    return appendLine(path, jsonText(record));
}
