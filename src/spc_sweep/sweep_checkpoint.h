// spc_sweep's checkpoint: one file per network and repetition count, named
// by the network's fingerprint, that records every finished chunk so that a
// run cut short can be resumed (on any number of ranks).
//
// The file is text: a header line, then one line per chunk with the figures
// of each of its sources, and after every sync a mark; every line ends with
// the CRC-32 of the rest of it:
//
//   spc_sweep checkpoint 2 nodes N arcs M hash H repetitions R crc C
//   run REP FIRST LAST ns T sources REACHED SUM LARGEST SCANS ... crc C
//   synced BYTES crc C
//
// A mark is written once everything before it is on the disk, and BYTES is
// where it starts. After a crash of the machine, anything after the last
// mark may be cut short, lost or zeroed: from the first damaged line on,
// it is dropped and run again. Damage before the last mark, a line no run
// could have written (a value out of range, sources recorded twice,
// repetitions that disagree), or a header of another network or repetition
// count refuses the file, which is then left as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sweep_tally.h"

struct NetworkFingerprint {
    int64_t nodes = 0;
    int64_t arcs = 0;
    uint64_t hash = 0;  // 64-bit FNV-1a of the arc table
};

// The fingerprint of the loaded network: its counts and a hash of its offsets,
// heads and lengths, the same on every machine.
NetworkFingerprint fingerprintLoadedNetwork();

struct CheckpointHeader {
    NetworkFingerprint network;
    int repetitions = 0;
};

// The checkpoint of this network and repetition count in dir, and the record
// its run leaves when complete.
std::string checkpointPath(const std::string& dir, const CheckpointHeader& header);
std::string finishedPath(const std::string& dir, const CheckpointHeader& header);

std::string headerLine(const CheckpointHeader& header);
std::string recordLine(const ChunkRecord& record);
std::string markLine(uint64_t at);

// CRC-32 (the polynomial of zip and PNG) of the text.
uint32_t crc32(const std::string& text);
// "BODY crc XXXXXXXX\n" for BODY.
std::string withCrc(const std::string& body);
// BODY of such a line (newline removed) when its CRC holds.
bool checkedBody(const std::string& line, std::string& body);

// Reads `size` bytes at `offset` into `to`; returns how many, 0 at the end, -1
// on an error.
using ReadAt = std::function<int64_t(uint64_t offset, char* to, size_t size)>;

// Takes each record read back, with its line number; returns an empty string
// or why the file must be refused.
using RecordSink = std::function<std::string(const ChunkRecord& record, int64_t line)>;

struct CheckpointScan {
    int64_t records = 0;
    uint64_t good_bytes = 0;  // the file up to its last good line: the rest is a tail to drop
    bool dropped_tail = false;
};

// Lines longer than this are damage: a record holds at most kLargestChunk sources.
constexpr size_t kLongestLine = 16384;

// Reads a checkpoint against the header it must have, handing every good
// record to sink. Returns an empty string, or why the file is refused.
std::string readCheckpoint(const ReadAt& read, const CheckpointHeader& expected, const RecordSink& sink,
                           CheckpointScan& scan);

// The same over text in memory.
std::string readCheckpointText(const std::string& text, const CheckpointHeader& expected, const RecordSink& sink,
                               CheckpointScan& scan);
