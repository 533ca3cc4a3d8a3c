// spc_sweep's command line: every form it takes, every bound of every
// option, and the usage it refuses.
#include <gtest/gtest.h>

#include "spc_sweep/tool/options.h"

namespace {

std::string whyNot(const std::vector<std::string>& args, SweepOptions* out = nullptr) {
    SweepOptions options;
    const std::string why = parseSweepOptions(args, options);
    if (out) *out = options;
    return why;
}

TEST(SweepOptions, AcceptsEveryFormAndRefusesBadUse) {
    SweepOptions o;
    EXPECT_EQ(whyNot({"--repetitions", "2", "--checkpoint=ck", "--log", "my.log", "--per-source", "out/%n.tsv",
                      "--progress=0", "a.gr", "--", "-b.gr"},
                     &o),
              "");
    EXPECT_EQ(o.repetitions, 2);
    EXPECT_EQ(o.checkpoint_dir, "ck");
    EXPECT_EQ(o.log_file, "my.log");
    EXPECT_EQ(o.progress_seconds, 0);
    EXPECT_EQ(o.networks, (std::vector<std::string>{"a.gr", "-b.gr"}));
    EXPECT_EQ(perSourcePath(o.per_source, "dir/road.gr"), "out/road.gr.tsv");
    EXPECT_EQ(perSourcePath("100%%-%n", "x"), "100%-x");
    EXPECT_EQ(whyNot({"--estimate", "2.5", "--ranks", "1,64,1024", "a.gr"}, &o), "");
    EXPECT_EQ(o.estimate_seconds, 2.5);
    ASSERT_EQ(o.estimate_ranks.size(), 3u);
    EXPECT_EQ(o.estimate_ranks[2].ranks, 1024);
    EXPECT_EQ(o.estimate_ranks[2].threads, 0);  // this command's
    EXPECT_EQ(whyNot({"--estimate", "1", "--ranks", "4x32,1024", "--threads", "3", "a.gr"}, &o), "");
    EXPECT_EQ(o.estimate_ranks[0].ranks, 4);
    EXPECT_EQ(o.estimate_ranks[0].threads, 32);
    EXPECT_EQ(o.threads, 3);
    EXPECT_EQ(whyNot({"--method", "phast", "a.gr"}, &o), "");
    EXPECT_EQ(o.method, SweepMethod::phast);
    EXPECT_EQ(whyNot({"--method=heap", "a.gr"}, &o), "");
    EXPECT_EQ(o.method, SweepMethod::heap);
    EXPECT_EQ(whyNot({"a.gr"}, &o), "");
    EXPECT_EQ(o.method, SweepMethod::heap);
    EXPECT_EQ(o.repetitions, 4);
    EXPECT_EQ(o.log_file, "spc_heap_output.txt");
    EXPECT_EQ(o.progress_seconds, 600);
    EXPECT_EQ(whyNot({"--help"}, &o), "");
    EXPECT_TRUE(o.help);
    const std::string repetitions = "--repetitions needs a whole number from 1 to 1000000";
    const std::string ranks = "--ranks needs rank counts from 1 to 1048576, each with x and threads a rank from 1 to "
                              "4096 if wanted (2^20 threads in all at most), split by commas";
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, "no network file given"},
             {{"--repetitions", "0", "a.gr"}, repetitions},
             {{"--repetitions", "1000001", "a.gr"}, repetitions},
             {{"--repetitions=x", "a.gr"}, repetitions},
             {{"a.gr", "--repetitions"}, repetitions},
             // An empty value, as a script with an unset variable passes it.
             {{"--checkpoint", "", "a.gr"}, "--checkpoint needs a directory"},
             {{"a.gr", "--checkpoint"}, "--checkpoint needs a directory"},
             {{"--log=", "a.gr"}, "--log needs a file name"},
             {{"--per-source", "", "a.gr"}, "--per-source needs a file name"},
             {{"--per-source", "x.tsv", "a.gr", "b.gr"}, "--per-source names one file for several networks: put %n in it"},
             {{"--per-source", "%n.tsv", "one/a.gr", "two/a.gr"}, "--per-source would write a.gr.tsv for two networks"},
             {{"--per-source", "%s.tsv", "a.gr"}, "--per-source takes %n (the network's file name) and %% only"},
             {{"--progress", "-1", "a.gr"}, "--progress needs a number of seconds (0 turns the lines off)"},
             {{"--estimate", "0", "a.gr"}, "--estimate needs a number of seconds"},
             {{"--estimate", "1", "--ranks", "0", "a.gr"}, ranks},
             {{"--estimate", "1", "--ranks", "4,,8", "a.gr"}, ranks},
             {{"--ranks", "4", "a.gr"}, "--ranks goes with --estimate"},
             {{"--method", "PHAST", "a.gr"}, "--method needs heap or phast"},
             {{"a.gr", "--method"}, "--method needs heap or phast"},
             {{"--sources", "", "a.gr"}, "--sources needs a file of node ids"},
             {{"--sample", "0", "a.gr"}, "--sample needs a whole number of sources from 1 to 2147483647"},
             {{"--sample", "2147483648", "a.gr"}, "--sample needs a whole number of sources from 1 to 2147483647"},
             {{"--sample", "5", "--seed", "-1", "a.gr"}, "--seed needs a whole number from 0 to 18446744073709551615"},
             {{"--sources", "s.ss", "--sample", "5", "a.gr"}, "--sources and --sample choose the sources two ways: give one"},
             {{"--seed", "3", "a.gr"}, "--seed goes with --sample"},
             {{"--estimate", "1", "--sample", "5", "a.gr"},
              "--estimate prices the sweep of every source: it takes no --sources or --sample"},
             {{"--speed", "a.gr"}, "unknown option --speed"}}) {
        EXPECT_EQ(whyNot(args), message);
    }
    EXPECT_EQ(whyNot({"--repetitions", "1000000", "a.gr"}), "");
    EXPECT_EQ(whyNot({"--json", "r.json", "a.gr"}),
              jsonRecordsBuilt() ? "" : "--json: this spc_sweep was built without JSON records");
}

TEST(SweepOptionsEdges, EveryBoundOfEveryOption) {
    for (const auto& [args, ok] : std::vector<std::pair<std::vector<std::string>, bool>>{
             {{"--repetitions", "1"}, true}, {{"--repetitions", "1000000"}, true},
             {{"--repetitions", "0"}, false}, {{"--repetitions", "1000001"}, false},
             {{"--repetitions", "+4"}, false}, {{"--repetitions", "4 "}, false}, {{"--repetitions", "-4"}, false},
             {{"--progress", "0"}, true}, {{"--progress", "1000000000"}, true}, {{"--progress", "0.5"}, true},
             {{"--progress", "1000000001"}, false}, {{"--progress", "-0.1"}, false}, {{"--progress", "nan"}, false},
             {{"--progress", "inf"}, false}, {{"--progress", "+1"}, false}, {{"--progress", " 1"}, false},
             {{"--estimate", "0.001"}, true}, {{"--estimate", "0.0009"}, false}, {{"--estimate", "1e9"}, true},
             {{"--estimate", "1.1e9"}, false},
             {{"--estimate", "1", "--ranks", "1"}, true}, {{"--estimate", "1", "--ranks", "1048576"}, true},
             {{"--estimate", "1", "--ranks", "1048577"}, false}, {{"--estimate", "1", "--ranks", "0"}, false},
             {{"--estimate", "1", "--ranks", "1,2,"}, false}, {{"--estimate", "1", "--ranks", ",1"}, false},
             {{"--estimate", "1", "--ranks", ""}, false}, {{"--estimate", "1", "--ranks", "2,1,2"}, true},
             {{"--estimate", "1", "--ranks", "1x4096"}, true}, {{"--estimate", "1", "--ranks", "1x4097"}, false},
             {{"--estimate", "1", "--ranks", "256x4096"}, true}, {{"--estimate", "1", "--ranks", "257x4096"}, false},
             {{"--estimate", "1", "--ranks", "2x0"}, false}, {{"--estimate", "1", "--ranks", "2x"}, false},
             {{"--estimate", "1", "--ranks", "x2"}, false}, {{"--estimate", "1", "--ranks", "2x2x2"}, false},
             {{"--threads", "1"}, true}, {{"--threads", "4096"}, true}, {{"--threads", "0"}, false},
             {{"--threads", "4097"}, false}, {{"--threads", "two"}, false},
         }) {
        std::vector<std::string> with = args;
        with.push_back("a.gr");
        EXPECT_EQ(whyNot(with).empty(), ok) << args[0] << " " << args.back();
    }
}

}  // namespace
