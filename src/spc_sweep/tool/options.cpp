#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

const char* const kSweepUsage =
    "usage: spc_sweep [--method heap|phast] [--repetitions R] [--threads N] [--checkpoint DIR] [--log FILE]\n"
    "                 [--per-source FILE] [--json FILE] [--progress SECONDS]\n"
    "                 [--sources FILE | --sample K [--seed S]] NETWORK...\n"
    "       spc_sweep --estimate SECONDS [--method heap|phast] [--ranks P[xN][,P[xN]...]] [--threads N]\n"
    "                 [--repetitions R] NETWORK...";

namespace {

// More ranks than any machine room holds, and more threads than any of its
// machines: the estimate's simulation of them takes tens of megabytes.
constexpr int kMostRanks = 1 << 20;
constexpr int kMostThreads = 4096;
constexpr int64_t kMostWorkers = int64_t{1} << 20;

// "--name VALUE" or "--name=VALUE": true when args[i] is the option, with its
// value in `value` (empty when it is missing) and i past it.
bool takeOption(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& value) {
    const std::string& a = args[i];
    if (a == name) {
        value = i + 1 < args.size() ? args[++i] : "";
        return true;
    }
    if (a.compare(0, name.size() + 1, name + "=") == 0) {
        value = a.substr(name.size() + 1);
        return true;
    }
    return false;
}

bool wholeNumber(const std::string& text, int lo, int hi, int& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && out >= lo && out <= hi;
}

bool seconds(const std::string& text, double lo, double hi, double& out) {
    char* end = nullptr;
    if (text.empty() || text[0] == ' ' || text[0] == '+') return false;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(out) && out >= lo && out <= hi;
}

// Checks a --per-source pattern: only %n and %% after a %.
bool goodPattern(const std::string& pattern) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        if (i + 1 == pattern.size() || (pattern[i + 1] != 'n' && pattern[i + 1] != '%')) return false;
        ++i;
    }
    return true;
}

std::string perSourceProblem(const SweepOptions& o) {
    if (!goodPattern(o.per_source)) return "--per-source takes %n (the network's file name) and %% only";
    std::map<std::string, std::string> seen;  // path -> the network that writes it
    for (const std::string& network : o.networks) {
        const std::string path = perSourcePath(o.per_source, network);
        const auto [it, inserted] = seen.emplace(path, network);
        if (!inserted && it->second != network) {  // a network named twice writes its file twice, the same
            return o.per_source.find("%n") == std::string::npos
                       ? "--per-source names one file for several networks: put %n in it"
                       : "--per-source would write " + path + " for two networks";
        }
    }
    return {};
}

}  // namespace

std::string perSourcePath(const std::string& pattern, const std::string& network) {
    const size_t slash = network.rfind('/');
    const std::string name = slash == std::string::npos ? network : network.substr(slash + 1);
    std::string path;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            path += pattern[i + 1] == 'n' ? name : "%";
            ++i;
        } else {
            path += pattern[i];
        }
    }
    return path;
}

std::string parseSweepOptions(const std::vector<std::string>& args, SweepOptions& options) {
    bool only_names = false, ranks_given = false, seed_given = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (only_names || a == "-" || a.empty() || a[0] != '-') {
            options.networks.push_back(a);
        } else if (a == "--") {
            only_names = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (takeOption(args, i, "--repetitions", value)) {
            if (!wholeNumber(value, 1, 1000000, options.repetitions)) {
                return "--repetitions needs a whole number from 1 to 1000000";
            }
        } else if (takeOption(args, i, "--method", value)) {
            if (value != "heap" && value != "phast") return "--method needs heap or phast";
            options.method = value == "phast" ? SweepMethod::phast : SweepMethod::heap;
        } else if (takeOption(args, i, "--checkpoint", value)) {
            if (value.empty()) return "--checkpoint needs a directory";
            options.checkpoint_dir = value;
        } else if (takeOption(args, i, "--log", value)) {
            if (value.empty()) return "--log needs a file name";
            options.log_file = value;
        } else if (takeOption(args, i, "--per-source", value)) {
            if (value.empty()) return "--per-source needs a file name";
            options.per_source = value;
        } else if (takeOption(args, i, "--json", value)) {
            if (value.empty()) return "--json needs a file name";
            if (!jsonRecordsBuilt()) return "--json: this spc_sweep was built without JSON records";
            options.json_file = value;
        } else if (takeOption(args, i, "--progress", value)) {
            if (!seconds(value, 0, 1e9, options.progress_seconds)) {
                return "--progress needs a number of seconds (0 turns the lines off)";
            }
        } else if (takeOption(args, i, "--estimate", value)) {
            if (!seconds(value, 0.001, 1e9, options.estimate_seconds)) return "--estimate needs a number of seconds";
        } else if (takeOption(args, i, "--threads", value)) {
            if (!wholeNumber(value, 1, kMostThreads, options.threads)) {
                return "--threads needs a whole number from 1 to " + std::to_string(kMostThreads);
            }
        } else if (takeOption(args, i, "--sources", value)) {
            if (value.empty()) return "--sources needs a file of node ids";
            options.sources_file = value;
        } else if (takeOption(args, i, "--sample", value)) {
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), options.sample);
            if (error != std::errc() || end != value.data() + value.size() || options.sample < 1 ||
                options.sample > std::numeric_limits<int32_t>::max()) {
                return "--sample needs a whole number of sources from 1 to 2147483647";
            }
        } else if (takeOption(args, i, "--seed", value)) {
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), options.seed);
            if (error != std::errc() || end != value.data() + value.size() || value.empty()) {
                return "--seed needs a whole number from 0 to 18446744073709551615";
            }
            seed_given = true;
        } else if (takeOption(args, i, "--ranks", value)) {
            ranks_given = true;
            options.estimate_ranks.clear();
            size_t from = 0;
            for (;;) {
                const size_t comma = value.find(',', from);
                const std::string item = value.substr(from, comma - from);
                const size_t x = item.find('x');
                SweepOptions::RankCount count;
                if (!wholeNumber(item.substr(0, x), 1, kMostRanks, count.ranks) ||
                    (x != std::string::npos && !wholeNumber(item.substr(x + 1), 1, kMostThreads, count.threads)) ||
                    int64_t{count.ranks} * std::max(count.threads, 1) > kMostWorkers) {
                    return "--ranks needs rank counts from 1 to " + std::to_string(kMostRanks) +
                           ", each with x and threads a rank from 1 to " + std::to_string(kMostThreads) +
                           " if wanted (2^20 threads in all at most), split by commas";
                }
                options.estimate_ranks.push_back(count);
                if (comma == std::string::npos) break;
                from = comma + 1;
            }
        } else {
            return "unknown option " + a;
        }
    }
    if (options.help) return {};
    if (options.networks.empty()) return "no network file given";
    if (ranks_given && options.estimate_seconds <= 0) return "--ranks goes with --estimate";
    if (!options.sources_file.empty() && options.sample > 0) return "--sources and --sample choose the sources two ways: give one";
    if (seed_given && options.sample == 0) return "--seed goes with --sample";
    if (options.chosenSources() && options.estimate_seconds > 0) {
        return "--estimate prices the sweep of every source: it takes no --sources or --sample";
    }
    if (!options.per_source.empty()) return perSourceProblem(options);
    return {};
}
