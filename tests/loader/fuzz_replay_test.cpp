// Replays the fuzzer's seed corpus and every input it ever failed on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "network_check.h"

namespace fs = std::filesystem;

TEST(FuzzInputs, CorpusAndRegressionsPassTheFuzzerChecks) {
    size_t replayed = 0;
    for (const char* folder : {"corpus", "regressions"}) {
        for (const auto& entry : fs::directory_iterator(fs::path(SPC_FUZZ_DIR) / folder)) {
            if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
            SCOPED_TRACE(entry.path().string());
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            for (const std::string& what : checkNetworkInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) {
                ADD_FAILURE() << "broken expectation: " << what;
            }
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 10u);
}
