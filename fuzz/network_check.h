// One input of the loader fuzzer: bytes read as a network file, the arc table
// of an accepted network checked, small networks swept and compared with the
// plain reference engine. A broken expectation aborts with a message.
#pragma once

#include <cstddef>
#include <cstdint>

// Memory the loader may use while fuzzing, so that a header asking for a huge
// network is rejected instead of exhausting the fuzzer's memory.
constexpr uint64_t kFuzzMemoryLimit = uint64_t{64} << 20;

void checkNetworkInput(const uint8_t* data, size_t size);
