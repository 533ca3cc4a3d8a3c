#include "sweep_run.h"

#include "program/program_engine.h"
#include "report/report.h"
#include "sweep/sweep.h"

namespace spc_test {

std::string expectedReport(const NetworkSpec& spec) {
    const GeneratedNetwork net = generateNetwork(spec);
    loadArcs(net.nodes, net.arcs);
    one_to_all_distance.assign(static_cast<size_t>(num_nodes), 0);
    prepareEngine();
    sweepSources();
    int128 sum = 0;
    for (int128 x : one_to_all_distance) sum += x;
    const int64_t scans = trivial_triple_comparisons;
    return maskTimes(resultLines(sum, 0, scans, tripleCount(num_nodes) - scans));
}

namespace {

// The processes whose working directory is dir, with their command lines.
std::vector<std::pair<pid_t, std::string>> processesIn(const fs::path& dir) {
    std::vector<std::pair<pid_t, std::string>> found;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::error_code error;
        if (fs::read_symlink("/proc/" + std::string(entry->d_name) + "/cwd", error) != dir) continue;
        found.emplace_back(pid, readAllBytes("/proc/" + std::string(entry->d_name) + "/cmdline"));
    }
    closedir(proc);
    return found;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

pid_t rankProcess(const fs::path& dir, int rank, bool over_mpi) {
    for (const auto& [pid, cmdline] : processesIn(dir)) {
        // The tool itself, or the emulator that runs it; not the shells,
        // timeout or the launcher around it.
        const std::string program = cmdline.substr(0, cmdline.find('\0'));
        const bool tool = endsWith(program, "spc_sweep");
        const bool emulated = program.find("qemu") != std::string::npos && cmdline.find("spc_sweep") != std::string::npos;
        if (!tool && !emulated) continue;
        const std::string environ = readAllBytes("/proc/" + std::to_string(pid) + "/environ");
        const std::string wanted = "OMPI_COMM_WORLD_RANK=" + std::to_string(rank) + '\0';
        if (over_mpi && environ.find(wanted) == std::string::npos) continue;
        return pid;
    }
    return 0;
}

pid_t launcherProcess(const fs::path& dir) {
    for (const auto& [pid, cmdline] : processesIn(dir)) {
        const std::string program = cmdline.substr(0, cmdline.find('\0'));
        if (endsWith(program, "mpiexec") || endsWith(program, "mpirun") || endsWith(program, "orterun")) return pid;
    }
    return 0;
}

bool waitUntilCatching(pid_t pid, int signal) {
    for (int i = 0; i < 6000; ++i) {
        std::istringstream status(readAllBytes("/proc/" + std::to_string(pid) + "/status"));
        std::string line;
        bool alive = false;
        while (std::getline(status, line)) {
            if (line.rfind("SigCgt:", 0) != 0) continue;
            alive = true;
            const uint64_t caught = std::stoull(line.substr(7), nullptr, 16);
            if ((caught >> (signal - 1)) & 1) return true;
        }
        if (!alive) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool waitForText(const std::string& path, const std::string& text, size_t from) {
    for (int i = 0; i < 12000; ++i) {
        if (readAllBytes(path).find(text, from) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool waitForLines(const std::string& path, int64_t lines) {
    for (int i = 0; i < 12000; ++i) {
        const std::string text = readAllBytes(path);
        if (std::count(text.begin(), text.end(), '\n') >= lines) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::string waitForCheckpoint(const fs::path& dir, double seconds, int64_t nodes) {
    const std::string of = "spc_sweep-n" + std::to_string(nodes) + "-";
    for (int i = 0; i <= seconds * 100; ++i) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(dir, error)) {
            const bool ours = nodes == 0 || entry.path().filename().string().rfind(of, 0) == 0;
            if (entry.path().extension() == ".checkpoint" && ours) return entry.path().string();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

}  // namespace spc_test
