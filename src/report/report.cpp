#include "report.h"

#include <sstream>

std::string formatInteger(int128 value) {
    const bool negative = value < 0;
    // Work with the magnitude as unsigned so that the most negative value is exact too.
    uint128 magnitude = negative ? -static_cast<uint128>(value) : static_cast<uint128>(value);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    return negative ? "-" + digits : digits;
}

std::string resultLines(int128 sum_of_distances, float time_per_sweep, int64_t trivial, int128 nontrivial) {
    std::ostringstream lines;
    lines << "Sum of distances: " << formatInteger(sum_of_distances) << '\n';
    lines << "Running time of SP computation: " << static_cast<double>(time_per_sweep) << " (ms)\n";
    lines << "trivial_triple_comparisons: " << trivial << '\n';
    lines << "nontrivial_triple_comparisons: " << formatInteger(nontrivial) << '\n';
    return lines.str();
}

std::string runLogLine(const std::string& name, int128 sum_of_distances, float time_per_sweep, int64_t trivial,
                       int128 nontrivial) {
    const char* const gap = "     ";
    std::ostringstream line;
    line << name << gap << formatInteger(sum_of_distances) << gap << static_cast<double>(time_per_sweep) << gap
         << trivial << gap << formatInteger(nontrivial) << '\n';
    return line.str();
}

int128 tripleCount(int64_t n) { return static_cast<int128>(n) * (n - 1) * (n - 2); }
