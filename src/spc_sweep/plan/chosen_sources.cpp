#include "chosen_sources.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace {

std::string onLine(int64_t line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

// A whole number in 1..nodes, or why not.
std::string takeId(const std::string& word, int64_t nodes, int64_t& id) {
    if (word.empty() || word.size() > 12 || word.find_first_not_of("0123456789") != std::string::npos) {
        return "'" + word.substr(0, 24) + "' is not a node id";
    }
    id = std::stoll(word);
    if (id < 1 || id > nodes) return "node " + word + " is outside 1.." + std::to_string(nodes);
    return {};
}

// A draw from 0..bound-1 by rejection: the same on every machine.
uint64_t below(std::mt19937_64& random, uint64_t bound) {
    const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;  // a multiple of bound
    uint64_t x = 0;
    do {
        x = random();
    } while (x >= limit);
    return x % bound;
}

}  // namespace

uint64_t ChosenSources::hash() const {
    uint64_t h = 1469598103934665603ull;
    for (int32_t id : ids) {
        for (int shift = 0; shift < 32; shift += 8) {
            h ^= (static_cast<uint32_t>(id) >> shift) & 0xff;
            h *= 1099511628211ull;
        }
    }
    return h;
}

std::string ChosenSources::words() const {
    const std::string count = std::to_string(ids.size()) + " source" + (ids.size() == 1 ? "" : "s");
    return sample ? "a sample of " + count + " (seed " + std::to_string(seed) + ")" : count + " from the file " + file;
}

std::string readSourcesFile(const std::string& path, int64_t nodes, ChosenSources& chosen) {
    std::ifstream in(path);
    if (!in) return "cannot be opened";
    chosen = {};
    chosen.file = path;
    std::unordered_map<int64_t, int64_t> line_of;  // id -> the line that listed it
    int64_t declared = -1, problem_line = 0;
    std::string text;
    for (int64_t line = 1; std::getline(in, text); ++line) {
        std::istringstream words(text);
        std::string first, word, rest;
        if (!(words >> first) || first[0] == '#' || first[0] == 'c') continue;
        if (first == "p") {
            std::string aux, sp, ss;
            if (declared >= 0) return onLine(line, "a second problem line (the first is on line " + std::to_string(problem_line) + ")");
            if (!line_of.empty()) return onLine(line, "a problem line after the first source");
            if (!(words >> aux >> sp >> ss >> word) || aux != "aux" || sp != "sp" || ss != "ss" || (words >> rest)) {
                return onLine(line, "the problem line is not 'p aux sp ss COUNT'");
            }
            if (word.find_first_not_of("0123456789") != std::string::npos || word.size() > 12) {
                return onLine(line, "the source count '" + word.substr(0, 24) + "' is not a whole number");
            }
            declared = std::stoll(word);
            problem_line = line;
            continue;
        }
        if (declared >= 0 && first != "s") return onLine(line, "'" + first.substr(0, 24) + "' starts no line of a .ss file");
        if (first == "s") {
            if (declared < 0) return onLine(line, "a source line before the problem line 'p aux sp ss COUNT'");
            if (!(words >> word)) return onLine(line, "the source line has no node id");
        } else {
            word = first;
        }
        if (words >> rest) return onLine(line, "more than one node id on the line");
        int64_t id = 0;
        const std::string why = takeId(word, nodes, id);
        if (!why.empty()) return onLine(line, why);
        const auto [at, fresh] = line_of.emplace(id, line);
        if (!fresh) return onLine(line, "node " + word + " is listed twice (first on line " + std::to_string(at->second) + ")");
        chosen.ids.push_back(static_cast<int32_t>(id));
    }
    if (in.bad()) return "cannot be read";
    if (declared >= 0 && declared != static_cast<int64_t>(chosen.ids.size())) {
        return "the problem line (line " + std::to_string(problem_line) + ") declares " + std::to_string(declared) +
               " sources, but the file lists " + std::to_string(chosen.ids.size());
    }
    if (chosen.ids.empty()) return "lists no source";
    std::sort(chosen.ids.begin(), chosen.ids.end());
    return {};
}

std::string drawSample(int64_t nodes, int64_t k, uint64_t seed, ChosenSources& chosen) {
    chosen = {};
    if (k > nodes) {
        return "a sample of " + std::to_string(k) + " sources cannot be drawn from a network of " +
               std::to_string(nodes) + " nodes";
    }
    chosen.sample = true;
    chosen.seed = seed;
    std::mt19937_64 random(seed);
    std::unordered_set<int64_t> taken;
    taken.reserve(static_cast<size_t>(k));
    // Floyd: for j = n-k+1..n, take a draw t from 1..j, or j itself when t is taken.
    for (int64_t j = nodes - k + 1; j <= nodes; ++j) {
        const int64_t t = 1 + static_cast<int64_t>(below(random, static_cast<uint64_t>(j)));
        taken.insert(taken.count(t) != 0 ? j : t);
    }
    chosen.ids.assign(taken.begin(), taken.end());
    std::sort(chosen.ids.begin(), chosen.ids.end());
    return {};
}

SumEstimate estimateWholeSum(const std::vector<int128>& sums, int64_t nodes) {
    SumEstimate e;
    const long double k = static_cast<long double>(sums.size());
    if (sums.empty()) return e;
    long double mean = 0;
    for (int128 s : sums) mean += static_cast<long double>(s);
    mean /= k;
    e.sum = e.low = e.high = mean * static_cast<long double>(nodes);
    if (sums.size() < 2) return e;
    long double squares = 0;
    for (int128 s : sums) squares += (static_cast<long double>(s) - mean) * (static_cast<long double>(s) - mean);
    const long double variance = squares / (k - 1);
    const long double n = static_cast<long double>(nodes);
    const long double error = n * std::sqrt((1 - k / n) * variance / k);
    e.low = e.sum - 1.96L * error;
    e.high = e.sum + 1.96L * error;
    e.interval = true;
    return e;
}
