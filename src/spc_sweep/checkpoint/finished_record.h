// What a completed network leaves in the checkpoint directory, so that the
// same command never sweeps it again: every source's figures and the
// network's totals, made durable before any output is written, and then one
// line per output as it is written. A rerun writes exactly the outputs still
// missing, and never one twice:
//
//   spc_sweep finished 3 nodes N arcs M hash H repetitions R crc C
//   figures FIRST LAST REACHED SUM LARGEST SCANS ... crc C
//   totals sum S scans K ns T wall W ranks P threads N resumed X chunks Y diameter D radius Q started A ended B
//     host H crc C
//   begun KIND FILE NAME K at OFFSET crc C
//   served KIND FILE NAME K size S hash X crc C
//
// An output is the run log or the JSON record file (KIND log or json), the
// file as an absolute path, and the network's name as the command gave it
// with K, which occurrence of that name in the command it is; or a
// per-source file (KIND per-source, NAME -, K 0), whose size and hash say
// what it held. Before a line is appended to a log, a begun line records the
// log's size then; a rerun that finds begun without served looks for the
// line from there on, and writes it only when it is not there. Fields are
// written with %XX for blanks, '%' and bytes outside printable ASCII.
//
// Records of the earlier format (2: a header and the totals, no figures)
// are still read: their run-log line was written, and they serve nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checkpoint_format.h"
#include "spc_sweep/plan/tally.h"

struct NetworkTotals {
    int128 sum = 0;
    int64_t scans = 0;
    uint64_t cpu_ns = 0;
    double wall_seconds = 0;
    int ranks = 1;
    int threads = 1;      // compute threads of all ranks
    int64_t resumed = 0;  // source runs read from the checkpoint
    int64_t chunks = 0;   // handed out by the run that completed it
    int64_t diameter = 0;
    int64_t radius = -1;  // -1: no source reaches every node
    std::string started;  // ISO 8601, UTC
    std::string ended;
    std::string host;
};

struct OutputKey {
    std::string kind;  // "log", "json" or "per-source"
    std::string file;  // an absolute path
    std::string name = "-";
    int occurrence = 0;
    bool operator==(const OutputKey& o) const {
        return kind == o.kind && file == o.file && name == o.name && occurrence == o.occurrence;
    }
};

class FinishedRecord {
public:
    enum class Read { ok, absent, refused, in_use };

    // Writes the record of a complete sweep, durably: header, every source's
    // figures (all known to the tally), totals.
    static std::string create(const std::string& path, const CheckpointHeader& header, const SweepTally& tally,
                              const NetworkTotals& totals);

    // Opens a record and locks it; reads its totals and the outputs it
    // served. A last line cut short (a crash while it was appended) is
    // dropped. `why` says why a record is refused.
    Read openRecord(const std::string& path, const CheckpointHeader& header, std::string& why);
    const NetworkTotals& totals() const { return totals_; }
    // Of the earlier format: no figures; its run log was written.
    bool earlier() const { return earlier_; }

    // Every source's figures into the tally. Empty string or why not.
    std::string readFigures(SweepTally& tally) const;

    // Whether the output was served; for a per-source file, with its size
    // and hash.
    bool served(const OutputKey& key, uint64_t* size = nullptr, uint64_t* hash = nullptr) const;
    // Whether writing the output began, and the file's size then.
    bool begun(const OutputKey& key, uint64_t& at) const;
    // Appends a begun or served line, synced. Empty string or the error.
    std::string noteBegun(const OutputKey& key, uint64_t at);
    std::string noteServed(const OutputKey& key, uint64_t size = 0, uint64_t hash = 0);

    FinishedRecord() = default;
    FinishedRecord(const FinishedRecord&) = delete;
    FinishedRecord& operator=(const FinishedRecord&) = delete;
    // Unlocks and forgets the record.
    void forget();
    ~FinishedRecord();

private:
    struct Entry {
        OutputKey key;
        bool done = false;
        uint64_t at = 0;
        uint64_t size = 0;
        uint64_t hash = 0;
    };
    std::string appendSynced(const std::string& body);

    int fd_ = -1;
    std::string path_;
    CheckpointHeader header_;
    NetworkTotals totals_;
    bool earlier_ = false;
    std::vector<Entry> entries_;
};

// A field with blanks, '%' and bytes outside printable ASCII as %XX, and back.
std::string escapeField(const std::string& text);
bool unescapeField(const std::string& text, std::string& out);
