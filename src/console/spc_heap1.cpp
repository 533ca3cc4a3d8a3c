#include "spc_heap1.h"

#include <filesystem>
#include <iostream>
#include <sstream>
#include <system_error>

#include "program/program_loader.h"
#include "report/report.h"
#include "sweep/sweep.h"

namespace {

const char* const kPrompt = "Please input network filename (or -1 to exit) : ";
const char* const kRunLog = "spc_heap_output.txt";

// One console line: the text, a newline and a flush.
void say(const std::string& text) { std::cout << text << std::endl; }

// Prompts and reads the next whitespace-delimited answer. False when standard
// input has ended.
bool askForName() {
    std::cout << kPrompt;
    return static_cast<bool>(std::cin >> user_filename);
}

// Opens myFile on user_filename for reading and writing, as a network file
// must be. Directories, FIFOs and devices do not count as network files: a
// FIFO would open and then block the first read for ever.
void openNetworkFile() {
    std::error_code error;
    const auto status = std::filesystem::status(user_filename, error);
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return;
    myFile.open(user_filename, std::ios::in | std::ios::out);
    if (myFile.is_open()) myFile.clear();
}

}  // namespace

bool reportResults(int128 sum_of_distances, float time_per_sweep) {
    // Each line on its own, flushed: the console shows every line as it comes.
    std::istringstream lines(
        resultLines(sum_of_distances, time_per_sweep, trivial_triple_comparisons, nontrivial_triple_comparisons));
    for (std::string line; std::getline(lines, line);) say(line);

    ofs.open(kRunLog, std::ios::out | std::ios::app);
    if (!ofs.is_open()) {
        std::cout << "Failed to open file.\n";
        return false;
    }
    // The whole line in one write, so that the run log never holds part of one.
    const std::string line = runLogLine(user_filename, sum_of_distances, time_per_sweep, trivial_triple_comparisons,
                                        nontrivial_triple_comparisons);
    ofs.write(line.data(), static_cast<std::streamsize>(line.size()));
    ofs.close();
    if (ofs.fail()) {
        ofs.clear();
        std::cout << "Failed to write file.\n";
        return false;
    }
    return true;
}

int promptLoop() {
    for (;;) {
        if (user_filename == "-1") {
            say("exit");
            return 0;
        }
        if (!askForName()) {
            say("exit");
            return 0;
        }
        openNetworkFile();
        while (!myFile.is_open()) {
            if (user_filename == "-1") break;
            say("failed. wrong filename.");
            if (!askForName()) {
                say("exit");
                return 0;
            }
            openNetworkFile();
        }
        if (!myFile.is_open()) continue;  // the answer -1: the top of the loop ends the program
        say("opened");
        readFile();
        if (!load_error.empty()) {
            say("failed. " + load_error);
            continue;
        }
        const SweepResult result = sweepAllSources();
        if (!reportResults(result.sum_of_distances, result.time_per_sweep)) return 1;
    }
}
