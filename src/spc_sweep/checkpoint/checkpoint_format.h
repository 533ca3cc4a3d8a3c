// spc_sweep's checkpoint: one file per network and repetition count, named
// by the network's fingerprint, that records every finished chunk so that a
// run cut short can be resumed (on any number of ranks).
//
// The file is text: a header line, then lines of three kinds, and after
// every sync a mark; every line ends with the CRC-32 of the rest of it:
//
//   spc_sweep checkpoint 3 nodes N arcs M hash H repetitions R crc C
//   figures FIRST LAST REACHED SUM LARGEST SCANS ... crc C
//   run REP FIRST LAST ns T check X crc C
//   done FROM TO ns T crc C
//   synced BYTES crc C
//
// A source's figures are written once, the first time they come back; a
// chunk's run line then gives its repetition, its processor time and a check
// value of its sources' figures (figuresCheck), which every later
// repetition must match. Once the run lines outgrow the figures, the file is
// written anew with the repetitions they complete folded into done lines:
// the file stays in proportion to the sources, whatever the repetitions.
//
// A mark is written once everything before it is on the disk, and BYTES is
// where it starts. After a crash of the machine, anything after the last
// mark may be cut short, lost or zeroed: from the first damaged line on,
// it is dropped and run again. Damage before the last mark, a line no run
// could have written (a value out of range, sources recorded twice,
// repetitions that disagree), or a header of another network or repetition
// count refuses the file, which is then left as it is. A file of the
// earlier format (2, whose run lines held every repetition's figures) is
// read, then written anew in this one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "network/network.h"
#include "spc_sweep/plan/tally.h"

struct CheckpointHeader {
    NetworkFingerprint network;
    int repetitions = 0;
    // Figures of PHAST runs, else of the heap method's: a checkpoint or
    // record of one method is never taken for the other's (the header's
    // line and the file's name say " method phast" and "-phast").
    bool phast = false;
    // Chosen sources (0: every node): their count and the hash of their ids.
    // The header's line and the file's name say " sources K HASH" and
    // "-sK-HASH"; the checkpoint's source positions are 1..K.
    int64_t sources = 0;
    uint64_t sources_hash = 0;
    // With the harmonic sums of every source (a run with a per-source file):
    // " harmonic" and "-h". A run without never takes such a file, nor one
    // with them a file without: its figures would lack them.
    bool harmonic = false;
    int64_t positions() const { return sources > 0 ? sources : network.nodes; }
};

// The checkpoint of this network and repetition count in dir, and the record
// its run leaves when complete.
std::string checkpointPath(const std::string& dir, const CheckpointHeader& header);
std::string finishedPath(const std::string& dir, const CheckpointHeader& header);
// The file of the network's contraction hierarchy in dir, kept for every
// later run of the method phast, whatever its repetitions.
std::string hierarchyPath(const std::string& dir, const NetworkFingerprint& network);
// The longest name either can have in dir.
size_t longestCheckpointName();

// One line of a checkpoint, as read back.
struct CheckpointLine {
    enum Kind { figures, run, done } kind = figures;
    int32_t repetition = 0;       // run: its repetition; done: the first; from 0
    int32_t last_repetition = 0;  // done: the last, from 0
    int64_t first = 0;            // figures, run: sources first..last
    int64_t last = 0;
    uint64_t cpu_ns = 0;  // run, done
    uint64_t check = 0;   // run
    std::vector<SourceFigures> sources;  // figures
};

std::string headerLine(const CheckpointHeader& header);
// At most kLargestChunk sources a line.
std::string figuresLine(int64_t first, const SourceFigures* figures, size_t count);
std::string runLine(int32_t repetition, int64_t first, int64_t last, uint64_t cpu_ns, uint64_t check);
std::string doneLine(int32_t from, int32_t to, uint64_t cpu_ns);
std::string markLine(uint64_t at);

// CRC-32 (the polynomial of zip and PNG) of the text.
uint32_t crc32(const std::string& text);
// "BODY crc XXXXXXXX\n" for BODY.
std::string withCrc(const std::string& body);
// BODY of such a line (newline removed) when its CRC holds.
bool checkedBody(const std::string& line, std::string& body);

// The body of a figures line read into `line`, every value within what a run
// of this network can give. False when it is not one.
bool parseFiguresBody(const std::string& body, int64_t nodes, int64_t arcs, CheckpointLine& line);

// Reads `size` bytes at `offset` into `to`; returns how many, 0 at the end, -1
// on an error.
using ReadAt = std::function<int64_t(uint64_t offset, char* to, size_t size)>;
// The same over an open file.
ReadAt readAtOf(int fd);

// The lines of a file read in pieces: each with where it starts, whether a
// newline ended it, and whether it was longer than kLongestLine (then only
// its start is kept).
class LineReader {
public:
    explicit LineReader(const ReadAt& read) : read_(read) {}
    bool next(std::string& line, uint64_t& at, bool& ended, bool& too_long);
    bool failed() const { return failed_; }

private:
    bool refill();
    const ReadAt& read_;
    std::array<char, 65536> buffer_{};
    size_t pos_ = 0, len_ = 0;
    uint64_t file_offset_ = 0, offset_ = 0;
    bool failed_ = false;
};

// Takes each line read back, with its number; returns an empty string or
// why the file must be refused.
using LineSink = std::function<std::string(const CheckpointLine& line, int64_t number)>;

struct CheckpointScan {
    int64_t lines = 0;        // figures, run and done lines taken
    uint64_t good_bytes = 0;  // the file up to its last good line: the rest is a tail to drop
    bool dropped_tail = false;
    bool earlier_format = false;  // format 2: to be written anew
};

// Lines longer than this are damage: a line holds at most kLargestChunk sources.
constexpr size_t kLongestLine = 16384;

// Reads a checkpoint against the header it must have, handing every good
// line to sink. Returns an empty string, or why the file is refused.
std::string readCheckpoint(const ReadAt& read, const CheckpointHeader& expected, const LineSink& sink,
                           CheckpointScan& scan);

// The same over text in memory.
std::string readCheckpointText(const std::string& text, const CheckpointHeader& expected, const LineSink& sink,
                               CheckpointScan& scan);

// A decimal integer in lo..hi, nothing else.
bool parseInteger(const std::string& text, int128 lo, int128 hi, int128& out);
// Lowercase hexadecimal of the value, `digits` long.
std::string hexText(uint64_t value, int digits);
