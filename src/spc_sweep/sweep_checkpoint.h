// spc_sweep's checkpoint: one file per network and repetition count, named
// by the network's fingerprint, that records each finished unit of work, so
// that a run cut short can be resumed.
//
// The file is text: a header line, then one line per unit, each ending with
// the CRC-32 of the rest of its line:
//
//   spc_sweep checkpoint 1 nodes N arcs M hash H repetitions R block B crc C
//   unit U sum S scans A ns T crc C
//
// Lines are appended whole with one write each, and the file is synced at
// least every two seconds. A line cut short or damaged at the end of the file
// is what a crash leaves: it is dropped and its unit run again. Damage
// anywhere else, or a header of another network, repetition count or block
// size, refuses the file, which is then left as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sweep_blocks.h"

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
    int32_t block_size = 0;
};

// The file of this network and repetition count in dir.
std::string checkpointPath(const std::string& dir, const CheckpointHeader& header);

std::string headerLine(const CheckpointHeader& header);
std::string recordLine(const UnitRecord& record);

// CRC-32 (the polynomial of zip and PNG) of the text.
uint32_t crc32(const std::string& text);

struct CheckpointContents {
    std::vector<UnitRecord> records;
    uint64_t good_bytes = 0;  // the length of the file up to its last good line
    bool dropped_tail = false;
};

// Reads a checkpoint's text against the header it must have. Returns an
// empty string, or why the file is refused.
std::string parseCheckpoint(const std::string& text, const CheckpointHeader& expected, CheckpointContents& contents);

// An open checkpoint file that records units as they finish.
struct CheckpointWriter {
    // Opens path (creating it with its header when absent), first cutting off
    // whatever follows good_bytes. Returns an empty string or the error.
    std::string open(const std::string& path, const CheckpointHeader& header, uint64_t good_bytes);
    // Appends the record; syncs when the last sync is two seconds old.
    // Returns an empty string or the error.
    std::string append(const UnitRecord& record);
    // Syncs what was appended since the last sync when that is two seconds
    // old: called while the run waits, so that no record stays unsynced.
    std::string syncIfDue();
    // Syncs and closes; with remove, deletes the file (also when it was closed
    // before).
    std::string close(bool remove);
    bool isOpen() const { return fd_ >= 0; }
    ~CheckpointWriter();

private:
    std::string sync();
    int fd_ = -1;
    bool unsynced_ = false;
    std::string path_;
    uint64_t last_sync_ns_ = 0;
};

// Reads the checkpoint at path for the header given: no file means no
// records. Returns an empty string or why it is refused.
std::string readCheckpoint(const std::string& path, const CheckpointHeader& expected, CheckpointContents& contents);
