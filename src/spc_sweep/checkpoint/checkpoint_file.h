// The checkpoint file of a run: opened without following links, trusted
// only when this user (or root) owns it and nobody else may write it, held
// under a lock as long as the run writes it, read back, then appended to,
// and written anew once its run lines outgrow its figures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checkpoint_format.h"

class CheckpointFile {
public:
    enum class Opened { ok, in_use, refused, failed };
    struct OpenResult {
        Opened outcome = Opened::ok;
        std::string why;   // refused or failed: the reason
        std::string note;  // ok: the file system gives no locks
    };

    // Opens the checkpoint at path (creating it when absent, and then syncing
    // its directory), locks it, reads its lines into sink and cuts off a
    // tail to drop.
    OpenResult openAndRead(const std::string& path, const CheckpointHeader& header, const LineSink& sink,
                    CheckpointScan& scan);

    // Appends what a chunk gave: the figures of its sources that were not
    // known before (`unknown`, stretches of first..last), then its run line.
    // Syncs when the last sync is two seconds old. Empty string or the error.
    std::string appendChunk(const ChunkRecord& record, const std::vector<std::pair<int64_t, int64_t>>& unknown);
    // Syncs what was appended since the last sync when that is two seconds
    // old (called while the run waits), then marks the file as synced.
    std::string syncIfDue();
    std::string sync();

    // Whether the run lines have outgrown the figures of `known` sources.
    bool compactionDue(int64_t known) const;
    // Writes the file anew: its header, every known source's figures, the
    // complete repetitions as done lines and the other run lines, synced,
    // then renamed over the old one (this run keeps it locked).
    std::string compact(const SweepTally& tally);

    // Syncs and closes, keeping the file.
    std::string closeKeeping();
    // Deletes the file (and syncs its directory), then closes it.
    std::string closeRemoving();
    bool isOpen() const { return fd_ >= 0; }
    int64_t runLines() const { return static_cast<int64_t>(runs_.size()); }
    ~CheckpointFile();

private:
    struct Run {
        int32_t repetition;
        int64_t first;
        int64_t last;
        uint64_t cpu_ns;
    };
    struct Done {
        int32_t from;
        int32_t to;
        uint64_t cpu_ns;
    };
    std::string appendText(const std::string& text);
    std::string compactedText(const SweepTally& tally);

    int fd_ = -1;
    bool unsynced_ = false;
    uint64_t size_ = 0;
    std::string path_;
    CheckpointHeader header_;
    uint64_t last_sync_ns_ = 0;
    // What the run lines and done lines of the file say, for compact().
    std::vector<Run> runs_;
    std::vector<Done> dones_;
};
