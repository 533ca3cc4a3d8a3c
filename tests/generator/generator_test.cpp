#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "generator/network_generator.h"
#include "test_support.h"

namespace {

struct CommandResult {
    int status;
    std::string out;
    std::string err;
};

CommandResult runGenerator(const std::string& args) {
    // Named per process, so that tests run in parallel do not share the files.
    const std::string stem = testing::TempDir() + "spc_gen_" + std::to_string(getpid());
    const std::string out = stem + ".out", err = stem + ".err";
    const std::string command = std::string(SPC_GEN_PATH) + " " + args + " > " + out + " 2> " + err;
    const int raw = std::system(command.c_str());
    CommandResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAllBytes(out), readAllBytes(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return result;
}

TEST(Generator, OutputIsFixedByTheArguments) {
    // Pinned values, worked out apart from this code from the engine's definition:
    // a change of engine or range mapping would change every sample network.
    const CommandResult r = runGenerator("path 5 --seed 9 --lengths -3 3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "c spc_gen path 5 --seed 9 --lengths -3 3\np sp 5 4\na 1 2 -2\na 2 3 -1\na 3 4 3\na 4 5 -1\n");
    std::mt19937_64 engine(42);
    EXPECT_EQ(uniformInteger(engine, -2147483648LL, 2147483647LL), -286924074);
    EXPECT_EQ(uniformInteger(engine, 1, 10000), 4825);
    EXPECT_EQ(uniformInteger(engine, 7, 7), 7);
}

TEST(Generator, FamiliesHaveTheirShape) {
    const GeneratedNetwork grid = generateNetwork({"grid", 4, 3, 1, 1, 9});
    EXPECT_EQ(grid.nodes, 12);
    EXPECT_EQ(grid.arcs.size(), 34u);  // 2 * (3*3 + 4*2)
    for (const ArcTriple& a : grid.arcs) {
        const int dx = std::abs((a[0] - 1) % 4 - (a[1] - 1) % 4), dy = std::abs((a[0] - 1) / 4 - (a[1] - 1) / 4);
        EXPECT_EQ(dx + dy, 1) << a[0] << " -> " << a[1];
    }

    // Road: rows are streets both ways; between neighbouring rows, links both
    // ways at a third of the columns (rounded up), no column twice.
    const GeneratedNetwork road = generateNetwork({"road", 7, 5, 2, 1, 9});
    EXPECT_EQ(road.nodes, 35);
    ASSERT_EQ(static_cast<int64_t>(road.arcs.size()), specArcs({"road", 7, 5, 2, 1, 9}));
    EXPECT_EQ(road.arcs.size(), 2u * (6 * 5 + 3 * 4));
    std::set<std::pair<int32_t, int32_t>> road_arcs;
    for (const ArcTriple& a : road.arcs) {
        const int dx = std::abs((a[0] - 1) % 7 - (a[1] - 1) % 7), dy = std::abs((a[0] - 1) / 7 - (a[1] - 1) / 7);
        EXPECT_EQ(dx + dy, 1) << a[0] << " -> " << a[1];
        EXPECT_TRUE(road_arcs.insert({a[0], a[1]}).second) << "twice: " << a[0] << " -> " << a[1];
    }
    for (const ArcTriple& a : road.arcs) EXPECT_EQ(road_arcs.count({a[1], a[0]}), 1u) << "one way: " << a[0];
    for (int32_t y = 0; y + 1 < 5; ++y) {
        int links = 0;
        for (int32_t x = 1; x <= 7; ++x) links += static_cast<int>(road_arcs.count({y * 7 + x, y * 7 + x + 7}));
        EXPECT_EQ(links, 3) << "between rows " << y << " and " << y + 1;
    }
    EXPECT_NE(generateNetwork({"road", 7, 5, 3, 1, 9}).arcs, road.arcs);  // the seed moves the links

    const GeneratedNetwork random = generateNetwork({"random", 10, 40, 3, 0, 0});
    ASSERT_EQ(random.arcs.size(), 40u);
    for (int32_t v = 1; v <= 10; ++v) EXPECT_EQ(random.arcs[v - 1], (ArcTriple{v, v % 10 + 1, 0}));
    for (const ArcTriple& a : random.arcs) EXPECT_TRUE(a[0] >= 1 && a[0] <= 10 && a[1] >= 1 && a[1] <= 10);

    const GeneratedNetwork complete = generateNetwork({"complete", 5, 0, 1, -2147483648LL, 2147483647LL});
    std::set<std::pair<int32_t, int32_t>> pairs;
    for (const ArcTriple& a : complete.arcs) {
        EXPECT_NE(a[0], a[1]);
        pairs.insert({a[0], a[1]});
    }
    EXPECT_EQ(pairs.size(), 20u);

    EXPECT_EQ(generateNetwork({"path", 1, 0, 1, 1, 1}).arcs.size(), 0u);
}

TEST(Generator, BadUseGivesOneLineAndStatusTwo) {
    for (const char* args : {"", "tree 5", "grid 5", "road 5", "road 0 4", "grid 5 x", "path 0", "random 10 9", "complete 50000",
                             "grid 70000 70000", "path 5 --lengths 9 1", "path 5 --lengths 1 3000000000",
                             "path 5 --seed", "path 5 --frobnicate", "path 5 6"}) {
        SCOPED_TRACE(args);
        const CommandResult r = runGenerator(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("spc_gen: ", 0), 0u) << r.err;
    }
    // Each count that does not fit is named as what it is.
    for (const auto& [args, what] : std::vector<std::pair<std::string, std::string>>{
             {"random 10 2147483648", "arc"},
             {"random 2147483648 2147483648", "node"},
             {"grid 70000 70000", "node"},
             {"grid 2 600000000", "arc"},
             {"complete 50000", "arc"},
             {"path 2147483648", "node"}}) {
        EXPECT_EQ(runGenerator(args).err,
                  "spc_gen: the " + what + " count does not fit in 32 bits (spc_gen --help for usage)\n")
            << args;
    }
    const CommandResult help = runGenerator("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: spc_gen"), std::string::npos);
}

TEST(Generator, TilesCopyTheNetworkAndJoinNeighboursBothWays) {
    const std::string base = testing::TempDir() + "spc_gen_tile_" + std::to_string(getpid()) + ".gr";
    {
        std::ofstream f(base);
        f << "p sp 3 3\na 1 2 5\na 2 3 7\na 3 1 11\n";
    }
    const CommandResult r = runGenerator("tiles " + base + " 3 2 --seed 5");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(runGenerator("tiles " + base + " 3 2 --seed 5").out, r.out);
    EXPECT_NE(runGenerator("tiles " + base + " 3 2 --seed 6").out, r.out);
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "c spc_gen tiles " + base + " 3 2 --seed 5");
    std::getline(in, line);
    const int joins = 2 * 2 + 3 * 1;  // right neighbours, lower neighbours
    EXPECT_EQ(line, "p sp 18 " + std::to_string(6 * 3 + 2 * 4 * joins));
    std::multiset<std::tuple<int, int, int>> links;
    int copied = 0;
    char a;
    int u, v, length;
    while (in >> a >> u >> v >> length) {
        const int tu = (u - 1) / 3, tv = (v - 1) / 3;
        if (tu == tv) {  // a copy of a base arc, shifted into its tile
            EXPECT_EQ(length, ((u - 1) % 3 == 0 ? 5 : (u - 1) % 3 == 1 ? 7 : 11)) << u;
            EXPECT_EQ((v - 1) % 3, ((u - 1) % 3 + 1) % 3) << u;
            ++copied;
            continue;
        }
        EXPECT_TRUE(tv == tu + 1 || tv == tu - 1 || tv == tu + 3 || tv == tu - 3) << u << " -> " << v;
        EXPECT_FALSE((tu % 3 == 2 && tv == tu + 1) || (tu % 3 == 0 && tv == tu - 1)) << "wraps: " << u << " -> " << v;
        EXPECT_TRUE(length == 5 || length == 7 || length == 11) << length;
        links.insert({u, v, length});
    }
    EXPECT_EQ(copied, 18);
    EXPECT_EQ(links.size(), 2u * 4 * joins);
    for (const auto& [from, to, len] : links) EXPECT_EQ(links.count({to, from, len}), links.count({from, to, len}));

    for (const std::string& args : {"tiles " + base + " 0 2", "tiles " + base + " 2", "tiles " + base + " 40000 40000",
                                    "tiles " + base + " 2 2 --lengths 1 5"}) {
        const CommandResult bad = runGenerator(args);
        EXPECT_EQ(bad.status, 2) << args;
        EXPECT_EQ(bad.out, "") << args;
    }
    EXPECT_EQ(runGenerator("tiles /nonexistent.gr 2 2").status, 1);
    std::remove(base.c_str());
}

TEST(Generator, WriteErrorsFailLoudlyAndLeaveNoFile) {
    const CommandResult full = runGenerator("grid 300 300 -o /dev/full");
    EXPECT_NE(full.status, 0);
    EXPECT_NE(full.err.find("write error"), std::string::npos) << full.err;
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));  // a device is never removed

    // A file cut short by the size limit is removed, not left looking complete.
    const std::string cut = testing::TempDir() + "spc_gen_cut_" + std::to_string(getpid()) + ".gr";
    const CommandResult limited = runGenerator("grid 100 100 -o " + cut + "; trap '' XFSZ; ulimit -f 8; " +
                                               SPC_GEN_PATH + " grid 100 100 -o " + cut);
    EXPECT_NE(limited.status, 0);
    EXPECT_NE(limited.err.find("write error"), std::string::npos) << limited.err;
    EXPECT_FALSE(std::filesystem::exists(cut));

    const CommandResult nowhere = runGenerator("path 5 -o /nonexistent-dir/out.gr");
    EXPECT_NE(nowhere.status, 0);
    EXPECT_NE(nowhere.err.find("cannot open"), std::string::npos) << nowhere.err;

    const std::string target = testing::TempDir() + "spc_gen_written_" + std::to_string(getpid()) + ".gr";
    const CommandResult written = runGenerator("random 20 50 --seed 4 -o " + target);
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(readAllBytes(target), networkText({"random", 20, 50, 4, 1, 100}));
    std::remove(target.c_str());
}

}  // namespace
