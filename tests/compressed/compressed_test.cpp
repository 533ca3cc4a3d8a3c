// Network files as users download them: gzip, xz and bzip2 data made by the
// system's own tools, read by their first bytes, and refused with what went
// wrong and where when cut, damaged or misnamed.
#include <gtest/gtest.h>

#include "compressed/compressed_output.h"
#include "compressed/network_file.h"
#include "generator/network_generator.h"
#include "loader/network_loader.h"
#include "program_run.h"

namespace {

using spc_test::readAll;
using spc_test::writeFile;

struct Kind {
    const char* suffix;
    const char* tool;  // the system's compressor, writing to standard output
    Compression kind;
};
const Kind kKinds[] = {{".gz", "gzip -c", Compression::gzip},
                       {".xz", "xz -c", Compression::xz},
                       {".bz2", "bzip2 -c", Compression::bzip2}};

class CompressedFiles : public spc_test::ProgramRun {
protected:
    void SetUp() override {
        ProgramRun::SetUp();
        text_ = networkText({"random", 400, 2400, 1, 1000, 7});
        writeFile(dir_ / "net.gr", text_);
        ASSERT_TRUE(readNetworkFile(path("net.gr"), plain_).empty());
        for (const Kind& k : kKinds) {
            shell(std::string(k.tool) + " net.gr > net.gr" + k.suffix);
            // Two members (streams) of one file: the halves compressed apart.
            shell("head -c 9000 net.gr | " + std::string(k.tool) + " > two" + k.suffix + " && tail -c +9001 net.gr | " +
                  k.tool + " >> two" + k.suffix);
        }
    }
    void shell(const std::string& command) {
        ASSERT_EQ(std::system(("cd '" + dir_.string() + "' && " + command).c_str()), 0) << command;
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    // Loads the file; its message, or "" when it gave the plain file's network.
    std::string load(const std::string& name) {
        Network network;
        const std::string why = readNetworkFile(path(name), network);
        if (!why.empty()) return why;
        const NetworkFingerprint a = fingerprintOf(network), b = fingerprintOf(plain_);
        return a.nodes == b.nodes && a.arcs == b.arcs && a.hash == b.hash ? "" : "another network";
    }
    std::string text_;
    Network plain_;
};

TEST_F(CompressedFiles, EachKindWholeOrInMembersGivesThePlainFilesNetwork) {
    for (const Kind& k : kKinds) {
        if (!compressionBuilt(k.kind)) {  // a build without the library says so
            EXPECT_EQ(load(std::string("net.gr") + k.suffix), std::string("is ") + compressionName(k.kind) +
                                                                  " data, which this build cannot read: it was built "
                                                                  "without " + compressionLibrary(k.kind));
            continue;
        }
        EXPECT_EQ(load(std::string("net.gr") + k.suffix), "") << k.suffix;
        EXPECT_EQ(load(std::string("two") + k.suffix), "") << k.suffix;
        // Told by its first bytes: the same data under a plain name.
        shell(std::string("cp net.gr") + k.suffix + " renamed" + k.suffix + ".gr");
        EXPECT_EQ(load(std::string("renamed") + k.suffix + ".gr"), "") << k.suffix;
    }
}

TEST_F(CompressedFiles, CutDamagedOrTrailedDataIsRefusedWithWhereItStopped) {
    for (const Kind& k : kKinds) {
        if (!compressionBuilt(k.kind)) continue;
        const std::string whole = readAll(dir_ / (std::string("net.gr") + k.suffix));
        const std::string name = compressionName(k.kind);
        writeFile(dir_ / "cut", whole.substr(0, whole.size() / 2));
        EXPECT_NE(load("cut").find("the " + name + " data is cut short: the file ends at byte " +
                                   std::to_string(whole.size() / 2) + " ("),
                  std::string::npos)
            << load("cut");
        std::string damaged = whole;
        for (size_t i = whole.size() / 3; i < whole.size() / 3 + 8; ++i) damaged[i] = static_cast<char>(~damaged[i]);
        writeFile(dir_ / "damaged", damaged);
        const std::string said = load("damaged");
        EXPECT_NE(said.find("the " + name + " data is damaged at byte "), std::string::npos) << said;
        EXPECT_NE(said.find(" bytes of text, line "), std::string::npos) << said;
        writeFile(dir_ / "trailed", whole + "junk after the data");
        EXPECT_NE(load("trailed"), "") << k.suffix;
    }
}

TEST_F(CompressedFiles, NamesThatSayCompressedOnOtherDataAreRefusedBeforeReading) {
    const struct {
        std::string name, content, said;
    } cases[] = {
        {"plain.gr.gz", text_, "is named as gzip data, but its first bytes are not"},
        {"plain.gr.bz2", text_, "is named as bzip2 data, but its first bytes are not"},
        {"plain.gr.zst", text_, "is named as compressed data, but its first bytes are not"},
        {"zstd.gr", std::string("\x28\xb5\x2f\xfd", 4) + "rest", "cannot be read here (gzip, xz and bzip2 can)"},
        {"zip.gr.gz", "PK\x03\x04 an archive", "cannot be read here"},
    };
    for (const auto& c : cases) {
        writeFile(dir_ / c.name, c.content);
        EXPECT_NE(load(c.name).find(c.said), std::string::npos) << c.name << ": " << load(c.name);
    }
    // The reader's own rules and messages hold for compressed text.
    if (!compressionBuilt(Compression::gzip)) return;
    writeFile(dir_ / "bad.gr", "p sp 3 1\na 1 4 2\n");
    shell("gzip -c bad.gr > bad.gr.gz");
    EXPECT_EQ(load("bad.gr.gz"), load("bad.gr"));
    EXPECT_EQ(load("bad.gr.gz"), "line 2: head 4 of arc 1 -> 4 is outside 1..3");
}

TEST_F(CompressedFiles, WrittenCompressedTheSystemsToolsReadItBack) {
    for (const Kind& k : kKinds) {
        if (!compressionBuilt(k.kind)) continue;
        std::string why;
        std::FILE* out = openCompressedOutput(path(std::string("out") + k.suffix), k.kind, why);
        ASSERT_NE(out, nullptr) << why;
        ASSERT_EQ(std::fwrite(text_.data(), 1, text_.size(), out), text_.size());
        ASSERT_EQ(std::fclose(out), 0);
        const std::string back = std::string(k.tool).replace(std::string(k.tool).find(" -c"), 3, " -dc");
        shell(back + " out" + k.suffix + " > back.gr");
        EXPECT_EQ(readAll(dir_ / "back.gr"), text_) << k.suffix;
        EXPECT_EQ(load(std::string("out") + k.suffix), "") << k.suffix;
    }
}

}  // namespace
