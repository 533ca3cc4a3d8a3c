// The checkpoint file of a run: opened without following links, held under a
// lock as long as the run writes it, read back, then appended to.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "sweep_checkpoint.h"

class CheckpointFile {
public:
    // What open() returns when another run holds the file.
    static constexpr const char* kInUse = "it is in use by another run";

    // Opens the checkpoint at path (creating it when absent, and then syncing
    // its directory), locks it, reads its records into sink and cuts off a
    // tail to drop. Returns an empty string or why the file is refused or
    // cannot be used; `note` says when the file system gives no locks.
    std::string open(const std::string& path, const CheckpointHeader& header, const RecordSink& sink,
                     CheckpointScan& scan, std::string& note);
    // Appends the record with one write; syncs when the last sync is two
    // seconds old. Returns an empty string or the error.
    std::string append(const ChunkRecord& record);
    // Syncs what was appended since the last sync when that is two seconds
    // old (called while the run waits), then marks the file as synced.
    std::string syncIfDue();
    std::string sync();
    // Syncs and closes, keeping the file.
    std::string close();
    // Deletes the file (and syncs its directory), then closes it.
    std::string remove();
    bool isOpen() const { return fd_ >= 0; }
    ~CheckpointFile();

private:
    int fd_ = -1;
    bool unsynced_ = false;
    uint64_t size_ = 0;
    std::string path_;
    uint64_t last_sync_ns_ = 0;
};

// Makes a file's directory entry durable: syncs the directory it is in.
std::string syncDirectoryOf(const std::string& path);

// Writes a file safely: into a new file beside it, synced, renamed into
// place, the directory synced. No reader ever sees half of it. `write`
// fills the new file and returns false when a write failed.
std::string writeFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write);
std::string writeFileSafely(const std::string& path, const std::string& text);

// What a completed run leaves beside its checkpoints, so that the same
// command does not sweep the network again.
struct FinishedRecord {
    int128 sum = 0;
    int64_t scans = 0;
    uint64_t cpu_ns = 0;
    double wall_seconds = 0;
    int ranks = 0;
    int64_t resumed = 0;
    int64_t diameter = 0;
    int64_t radius = -1;
    std::string ended;  // ISO 8601, UTC
};
std::string finishedText(const CheckpointHeader& header, const FinishedRecord& record);
// Reads a finished record: empty string, "absent", or what does not match.
std::string readFinished(const std::string& path, const CheckpointHeader& header, FinishedRecord& record);
