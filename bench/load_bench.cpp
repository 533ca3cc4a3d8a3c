// How fast a network file is read, plain or compressed: the reader spc_sweep's
// rank 0 runs before every job of a chain.
//
//   spc_load_bench FILE...
//
// For each file: the seconds of wall-clock time to load it (read, decompress,
// check, build the arc table), its size on disk, and its text's megabytes a
// second (the text's size is the plain file's, or the first file's when all
// are copies of one network, as the table of docs/performance.md compares).
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "compressed/network_file.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: spc_load_bench FILE...\n");
        return 2;
    }
    double text_bytes = 0;  // the first file's size: the plain copy's text
    std::printf("%-40s %14s %10s %12s %10s\n", "file", "bytes", "seconds", "text MB/s", "vs first");
    double first_seconds = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st {};
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "%s: cannot be read\n", argv[i]);
            return 1;
        }
        Network network;
        const auto start = std::chrono::steady_clock::now();
        const std::string why = readNetworkFile(argv[i], network);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!why.empty()) {
            std::fprintf(stderr, "%s: %s\n", argv[i], why.c_str());
            return 1;
        }
        if (i == 1) {
            text_bytes = static_cast<double>(st.st_size);
            first_seconds = seconds;
        }
        std::printf("%-40s %14lld %10.3f %12.1f %10.3f\n", argv[i], static_cast<long long>(st.st_size), seconds,
                    text_bytes / seconds / 1e6, seconds / first_seconds);
    }
    return 0;
}
