// One input of the loader fuzzer: bytes read as a network file, the arc table
// of an accepted network checked, small networks swept and compared with the
// plain reference engine, and, without negative lengths, every run's labels
// checked to be shortest-path lengths by their own certificate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Memory the loader may use while fuzzing, so that a header asking for a huge
// network is rejected instead of exhausting the fuzzer's memory.
constexpr uint64_t kFuzzMemoryLimit = uint64_t{64} << 20;

// Every expectation the input broke, each said once; empty when all held.
std::vector<std::string> checkNetworkInput(const uint8_t* data, size_t size);
