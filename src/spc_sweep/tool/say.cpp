#include "say.h"

#include <cstdio>

void complain(const std::string& name, const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "spc_sweep: %s: %s\n", name.c_str(), why.c_str());
    std::fflush(stderr);
}

bool writeOut(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 &&
           !std::ferror(stdout);
}

std::string plainSeconds(double seconds) {
    int decimals = 3;
    for (double x = seconds; x > 0 && x < 0.1 && decimals < 9; x *= 10) ++decimals;
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, seconds);
    return text;
}
