// libFuzzer entry: arbitrary bytes as a network file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "network_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> broken = checkNetworkInput(data, size);
    for (const std::string& what : broken) std::fprintf(stderr, "broken expectation: %s\n", what.c_str());
    if (!broken.empty()) std::abort();  // the input is saved for replay
    return 0;
}
