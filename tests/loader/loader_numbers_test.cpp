// The reader's numbers at every length, in every field: each is read exactly
// or refused with its line and field, never read as some other value.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "loader/network_loader.h"
#include "test_support.h"

namespace {

// A number as a file writes it, and the value it stands for when that fits
// 32 bits (nullopt: out of range).
struct Number {
    std::string text;
    std::optional<int64_t> value;
};

const std::string kZeros39(39, '0');

const Number kNumbers[] = {
    {"0", 0},
    {"5", 5},
    {"+5", 5},
    {"0000000000005", 5},  // 13 digits, most of them leading zeros
    {"-0000000000005", -5},
    {kZeros39 + "7", 7},  // 40 digits
    {"-" + kZeros39 + "7", -7},
    {"1000000000", 1000000000},  // 10 digits
    {"2147483647", 2147483647},
    {"-2147483648", -2147483647 - 1},
    {"00000000002147483647", 2147483647},  // 20 digits
    {"-00000000002147483648", -2147483647 - 1},
    {"2147483648", std::nullopt},  // one past each limit
    {"-2147483649", std::nullopt},
    {"4294967297", std::nullopt},    // 2^32 + 1: 1 in 32 bits
    {"10000000000", std::nullopt},   // 11 digits whose first 10 are in range
    {"-10000000000", std::nullopt},
    {"12345678901", std::nullopt},
    {"21474836470", std::nullopt},
    {"100000000000", std::nullopt},  // 12 digits
    {"-100000000005", std::nullopt},
    {"1000000000000000001", std::nullopt},  // 19 digits
    {"9223372036854775807", std::nullopt},
    {"-9223372036854775808", std::nullopt},
    {"18446744073709551616", std::nullopt},  // 20 digits: 2^64, 0 in 64 bits
    {"18446744073709551617", std::nullopt},  // 1 in 64 bits
    {"-18446744073709551617", std::nullopt},
    {"1" + std::string(23, '0'), std::nullopt},  // 24 digits: quoted whole
    {"1" + kZeros39, std::nullopt},              // 40 digits
    {"-1" + kZeros39, std::nullopt},
    {"1" + kZeros39 + "1", std::nullopt},
};

// How the message quotes a number: its first 24 characters, and "..." when
// there were more.
std::string quoted(const std::string& text) { return text.size() > 24 ? text.substr(0, 24) + "..." : text; }

std::string outOfRange(int line, const std::string& field, const std::string& record, const std::string& text) {
    return "line " + std::to_string(line) + ": " + field + " " + quoted(text) + " of " + record +
           " is outside the 32-bit signed range";
}

// Each field, in a file where every other field is good. `ending` follows
// the number: a newline, or nothing (the number cut by the end of the file,
// where the field is the file's last).
struct Field {
    const char* name;
    const char* record;
    int line;
    std::string (*file)(const std::string& number, const char* ending);
    // What a number that fits gives: the loaded value, or the reader's
    // message about it (which names the value as read).
    void (*check)(const std::string& text, int64_t value);
    bool last;  // the file's last field
};

const Field kFields[] = {
    {"node count", "the problem line", 1, [](const std::string& x, const char* end) { return "p sp " + x + " 0" + end; },
     [](const std::string&, int64_t v) {
         if (v >= 1 && v <= 1000) {
             EXPECT_EQ(load_error, "");
             EXPECT_EQ(num_nodes, v);
         } else if (v < 1) {
             EXPECT_EQ(load_error, "line 1: node count " + std::to_string(v) + " is below 1");
         } else {
             EXPECT_EQ(load_error.rfind("a network of " + std::to_string(v) + " nodes and 0 arcs needs", 0), 0u)
                 << load_error;
         }
     },
     false},
    {"arc count", "the problem line", 1, [](const std::string& x, const char* end) { return "p sp 2 " + x + end; },
     [](const std::string&, int64_t v) {
         if (v == 0) {
             EXPECT_EQ(load_error, "");
             EXPECT_EQ(num_arcs, 0);
         } else if (v < 0) {
             EXPECT_EQ(load_error, "line 1: arc count " + std::to_string(v) + " is negative");
         } else {
             EXPECT_EQ(load_error, "the problem line (line 1) declares " + std::to_string(v) + " arcs, but the file has 0");
         }
     },
     true},
    {"tail", "an arc", 2, [](const std::string& x, const char* end) { return "p sp 7 1\na " + x + " 1 3" + end; },
     [](const std::string&, int64_t v) {
         if (v >= 1 && v <= 7) {
             EXPECT_EQ(load_error, "");
             EXPECT_EQ(arcTable(), (std::vector<ArcTriple>{{static_cast<int32_t>(v), 1, 3}}));
         } else {
             const std::string t = std::to_string(v);
             EXPECT_EQ(load_error, "line 2: tail " + t + " of arc " + t + " -> 1 is outside 1..7");
         }
     },
     false},
    {"head", "an arc", 2, [](const std::string& x, const char* end) { return "p sp 7 1\na 2 " + x + " 3" + end; },
     [](const std::string&, int64_t v) {
         if (v >= 1 && v <= 7) {
             EXPECT_EQ(load_error, "");
             EXPECT_EQ(arcTable(), (std::vector<ArcTriple>{{2, static_cast<int32_t>(v), 3}}));
         } else {
             const std::string h = std::to_string(v);
             EXPECT_EQ(load_error, "line 2: head " + h + " of arc 2 -> " + h + " is outside 1..7");
         }
     },
     false},
    {"length", "an arc", 2, [](const std::string& x, const char* end) { return "p sp 7 1\na 2 5 " + x + end; },
     [](const std::string&, int64_t v) {
         EXPECT_EQ(load_error, "");
         EXPECT_EQ(arcTable(), (std::vector<ArcTriple>{{2, 5, static_cast<int32_t>(v)}}));
     },
     true},
};

TEST(ReaderNumbers, EveryLengthInEveryFieldIsReadExactlyOrRefusedWithItsLineAndField) {
    memory_limit = uint64_t{64} << 20;  // a node count past it is refused by its size, naming it
    for (const Field& field : kFields) {
        for (const Number& number : kNumbers) {
            for (const char* ending : {"\n", ""}) {
                if (*ending == '\0' && !field.last) continue;
                const std::string file = field.file(number.text, ending);
                SCOPED_TRACE(std::string(field.name) + " in \"" + file + "\"");
                const bool loaded = loadText(file);
                if (number.value) {
                    field.check(number.text, *number.value);
                } else {
                    EXPECT_FALSE(loaded);
                    EXPECT_EQ(load_error, outOfRange(field.line, field.name, field.record, number.text));
                }
            }
        }
    }
    memory_limit = 0;
}

// A sign or a number cut off by the end of the file in each field.
TEST(ReaderNumbers, ASignWithoutDigitsIsNoNumber) {
    for (const Field& field : kFields) {
        for (const std::string sign : {"-", "+"}) {
            const std::string file = field.file(sign, field.last ? "" : "\n");
            SCOPED_TRACE(file);
            EXPECT_FALSE(loadText(file));
            EXPECT_EQ(load_error, "line " + std::to_string(field.line) + ": " + field.name + " '" + sign + "' of " +
                                      field.record + " is not a number");
        }
    }
}

// The reader takes plainly written arc records straight from its buffer and
// leaves everything else to its careful path. A source that hands out one
// character at a time leaves it only the careful path: on every text both
// must load the same arcs or say the same thing.
class OneCharacterAtATime : public std::stringbuf {
public:
    explicit OneCharacterAtATime(const std::string& text) : std::stringbuf(text) {}

protected:
    std::streamsize xsgetn(char* to, std::streamsize count) override {
        return std::stringbuf::xsgetn(to, std::min<std::streamsize>(count, 1));
    }
};

// Arc records with blanks of every kind between and around their fields,
// numbers of every shape, and now and then junk or a comment after them.
std::string randomRecords(std::mt19937_64& random) {
    static const char* const blanks[] = {" ", " ", "\t", "  ", "\n", "\r", " \v", "\f"};
    static const char* const numbers[] = {"1", "2", "3", "4", "5", "0", "00", "-1", "+2", "7x", "2147483647",
                                          "2147483648", "-2147483648", "-2147483649", "99999999999", "0000000000003"};
    static const char* const ends[] = {"\n", "\n", "\r\n", " c note\n", "x", "", "\n\n", " a"};
    const auto pick = [&](const auto& list) { return std::string(list[random() % (sizeof list / sizeof *list)]); };
    const size_t records = random() % 8;
    std::string text = "p sp 5 " + std::to_string(records) + "\n";
    for (size_t r = 0; r < records; ++r) {
        text += "a";
        for (int field = 0; field < 3; ++field) {
            text += pick(blanks);
            // Mostly good numbers, so that errors come late, after many lines.
            text += random() % 4 ? std::to_string(1 + random() % 5) : pick(numbers);
        }
        text += pick(ends);
    }
    return text;
}

TEST(Reader, PlainlyWrittenArcsReadAsTheCarefulPathReadsThem) {
    std::mt19937_64 random(2026);
    int loaded = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomRecords(random);
        std::stringbuf whole(text);
        OneCharacterAtATime slow(text);
        Network fast_network, slow_network;
        const std::string fast_said = readNetwork(whole, fast_network);
        const std::string slow_said = readNetwork(slow, slow_network);
        ASSERT_EQ(fast_said, slow_said) << text;
        ASSERT_EQ(fast_network.head, slow_network.head) << text;
        ASSERT_EQ(fast_network.length, slow_network.length) << text;
        ASSERT_EQ(fast_network.point, slow_network.point) << text;
        loaded += fast_said.empty();
    }
    EXPECT_GT(loaded, 2000);  // many texts load
}

}  // namespace
