// The README's batch example, run as it stands: a list of files piped in, and
// the run log read into a table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.h"

using namespace spc_test;

namespace {

// The table's words, one blank between them, with the time column (the
// third) replaced by T: times and so the column widths vary.
std::string maskTimeColumn(const std::string& table) {
    std::istringstream lines(table);
    std::string line, masked;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        for (int column = 1; words >> word; ++column) masked += (column == 3 ? "T" : word) + " ";
        masked += "\n";
    }
    return masked;
}

TEST_F(ProgramRun, TheReadmesBatchExampleRunsAsWritten) {
    const std::vector<std::string> blocks = readmeBlocks("Batch use");
    ASSERT_EQ(blocks.size(), 3u) << "the section should show the run, the table command and the table";
    // The README's paths, here: the samples, and the program (under the
    // emulator in a cross build).
    fs::create_directory_symlink(SPC_EXAMPLES_DIR, dir_ / "examples");
    fs::create_directory(dir_ / "build");
    writeFile(dir_ / "build" / "spc_heap1", std::string("#!/bin/sh\nexec ") + SPC_HEAP1_PATH + " \"$@\"\n");
    fs::permissions(dir_ / "build" / "spc_heap1", fs::perms::owner_all);
    writeFile(dir_ / "commands.sh", blocks[0] + blocks[1]);
    const std::string command = "cd '" + dir_.string() + "' && sh commands.sh > table.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string dialogue = readAll(dir_ / "batch.txt");
    EXPECT_EQ(std::count(dialogue.begin(), dialogue.end(), '\n'), 11) << dialogue;  // two reports and "exit"
    EXPECT_EQ(maskTimeColumn(readAll(dir_ / "table.txt")), maskTimeColumn(blocks[2]));
}

}  // namespace
