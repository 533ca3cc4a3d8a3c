// libFuzzer entry: arbitrary bytes as a network file.
#include <cstddef>
#include <cstdint>

#include "network_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkNetworkInput(data, size);
    return 0;
}
