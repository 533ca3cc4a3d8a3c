// Runs of the built spc_sweep, alone or over MPI ranks, in a fresh directory.
#pragma once

#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "generator/network_generator.h"
#include "program_run.h"

namespace spc_test {

constexpr bool kOverMpi = SPC_SWEEP_MPI;

// The expected report of a network, from one sweep in this process.
std::string expectedReport(const NetworkSpec& spec);

class SweepRun : public ProgramRun {
protected:
    void SetUp() override {
        ProgramRun::SetUp();
        // Open MPI refuses root unless told, and stays on this machine.
        setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
        setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
        setenv("OMPI_MCA_btl", "self,vader", 1);
    }

    // The command that starts spc_sweep on `ranks` ranks (1: alone, without
    // a launcher). MPI's libraries keep memory to the end, which
    // LeakSanitizer would report as leaks of the tool's.
    static std::string command(int ranks, const std::string& args, bool as_nobody = false) {
        // The time limit is the launcher's: signals to the launcher then
        // reach the tool itself.
        std::string launch = "env ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 ";
        if (as_nobody) launch += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        launch += "timeout 300 ";
        if (ranks > 1) {
            launch += std::string(SPC_MPIEXEC) + " " + SPC_MPIEXEC_NUMPROC_FLAG + " " + std::to_string(ranks) + " " +
                      SPC_MPIEXEC_PREFLAGS + " ";
        }
        return launch + SPC_SWEEP_PATH + " " + args;
    }

    void sweep(int ranks, const std::string& args, bool as_nobody = false, const std::string& redirect = "> .stdout") {
        const std::string line =
            "cd '" + dir_.string() + "' && " + command(ranks, args, as_nobody) + " " + redirect + " 2> .stderr";
        const int raw = std::system(line.c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        status_ = WEXITSTATUS(raw);
        out_ = readAll(dir_ / ".stdout");
        err_ = readAll(dir_ / ".stderr");
    }

    // Starts spc_sweep in the background; wait() collects it.
    void start(int ranks, const std::string& args) {
        fs::remove(dir_ / ".status");
        const std::string line = "cd '" + dir_.string() + "' && (" + command(ranks, args) +
                                 " > .stdout 2> .stderr; echo $? > .status) &";
        ASSERT_EQ(std::system(line.c_str()), 0);
    }
    void wait() {
        // The shell makes .status before it writes the status: wait for the line.
        const auto written = [&] {
            const std::string status = readAll(dir_ / ".status");
            return !status.empty() && status.back() == '\n';
        };
        for (int i = 0; i < 30000 && !written(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        status_ = std::atoi(readAll(dir_ / ".status").c_str());
        out_ = readAll(dir_ / ".stdout");
        err_ = readAll(dir_ / ".stderr");
    }

    // The console program's report of the files, one after the other.
    std::vector<std::string> consoleReports(const std::vector<std::string>& names) {
        std::string input;
        for (const std::string& name : names) input += name + "\n";
        run(input + "-1\n");
        EXPECT_EQ(status_, 0);
        std::vector<std::string> reports;
        std::istringstream lines(maskTimes(out_));
        std::string line, report;
        while (std::getline(lines, line)) {
            if (line.rfind("Sum of distances", 0) == 0 || line.rfind("Running time", 0) == 0 ||
                line.rfind("trivial_", 0) == 0) {
                report += line + "\n";
            } else if (line.rfind("nontrivial_", 0) == 0) {
                reports.push_back(report + line + "\n");
                report.clear();
            }
        }
        return reports;
    }

    // spc_sweep's output split into its reports: four result lines and its
    // own line each, which names the ranks (or an earlier run's record).
    static std::vector<std::string> sweepReports(const std::string& out, int ranks) {
        std::vector<std::string> reports;
        std::istringstream lines(maskTimes(out));
        std::string line, report;
        while (std::getline(lines, line)) {
            if (line.rfind("spc_sweep: ", 0) == 0) {
                const bool recorded = line.rfind("spc_sweep: recorded by an earlier run", 0) == 0;
                EXPECT_TRUE(recorded || line.rfind("spc_sweep: " + std::to_string(ranks) + " rank", 0) == 0) << line;
                reports.push_back(report);
                report.clear();
            } else {
                report += line + "\n";
            }
        }
        EXPECT_EQ(report, "");
        return reports;
    }

    // Writes the generated network into the test's directory; returns the
    // console program's report of it.
    std::string writeNetwork(const std::string& name, const NetworkSpec& spec) {
        writeFile(dir_ / name, networkText(spec));
        return expectedReport(spec);
    }

    // The source runs the tool's line says were resumed.
    static int64_t resumedOf(const std::string& out) {
        const size_t at = out.find(" source runs resumed");
        if (at == std::string::npos) return -1;
        return std::atoll(out.c_str() + out.rfind(' ', at - 1) + 1);
    }

    int64_t logLines() const {
        const std::string text = log();
        return std::count(text.begin(), text.end(), '\n');
    }
};

// The process of this test's run that runs as the given rank (or, alone,
// the tool itself): its working directory is the test's.
pid_t rankProcess(const fs::path& dir, int rank, bool over_mpi);
// The launcher (mpiexec) of this test's run.
pid_t launcherProcess(const fs::path& dir);
// Waits until the process catches the signal (its handler is installed, as
// /proc tells); false after a minute or once the process is gone.
bool waitUntilCatching(pid_t pid, int signal);

// Waits until the file holds at least `lines` lines; false after a minute.
bool waitForLines(const std::string& path, int64_t lines);
// Waits until the file holds the text at or after `from`; false after a minute.
bool waitForText(const std::string& path, const std::string& text, size_t from = 0);
// The checkpoint file in dir (of a network of that many nodes, when given),
// once one appears ("" after the seconds given).
std::string waitForCheckpoint(const fs::path& dir, double seconds = 240, int64_t nodes = 0);

}  // namespace spc_test
