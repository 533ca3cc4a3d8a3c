#include "checkpoint_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>

#include "durable_files.h"

namespace {

constexpr uint64_t kSyncEveryNs = 2000000000u;

uint64_t monotonicNs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

// Opens an existing file, or creates it, never through a symbolic link.
int openNoFollow(const std::string& path, bool& created) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) {
            created = false;
            return fd;
        }
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {  // EEXIST: made meanwhile by another run; open that one
            created = fd >= 0;
            return fd;
        }
    }
    return -1;
}

}  // namespace

CheckpointFile::OpenResult CheckpointFile::openAndRead(const std::string& path, const CheckpointHeader& header,
                                                const LineSink& sink, CheckpointScan& scan) {
    path_ = path;
    header_ = header;
    runs_.clear();
    dones_.clear();
    bool created = false;
    fd_ = openNoFollow(path, created);
    if (fd_ < 0) {
        if (errno == ELOOP) return {Opened::refused, "it is a symbolic link, which is not followed", {}};
        return {Opened::failed, std::strerror(errno), {}};
    }
    const auto refuse = [this](Opened outcome, const std::string& why) {
        ::close(fd_);  // left as it is
        fd_ = -1;
        return OpenResult{outcome, why, {}};
    };
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return refuse(Opened::refused, "it is not a regular file");
    const std::string untrusted = checkTrusted(fd_);
    if (!untrusted.empty()) return refuse(Opened::refused, untrusted);
    OpenResult result;
    const int locked = lockWhole(fd_);
    if (locked == EAGAIN || locked == EACCES) return refuse(Opened::in_use, "");
    if (locked != 0) {
        result.note = std::string("its file system gives no locks (") + std::strerror(locked) +
                      "); two runs on it would spoil it";
    }
    const ReadAt read = readAtOf(fd_);
    const LineSink noting = [&](const CheckpointLine& line, int64_t number) {
        const std::string refused = sink(line, number);
        if (!refused.empty()) return refused;
        if (line.kind == CheckpointLine::run) runs_.push_back({line.repetition, line.first, line.last, line.cpu_ns});
        if (line.kind == CheckpointLine::done) dones_.push_back({line.repetition, line.last_repetition, line.cpu_ns});
        return std::string();
    };
    const std::string refused = readCheckpoint(read, header, noting, scan);
    if (!refused.empty()) return refuse(Opened::refused, refused);
    if (::ftruncate(fd_, static_cast<off_t>(scan.good_bytes)) != 0) return refuse(Opened::failed, std::strerror(errno));
    size_ = scan.good_bytes;
    if (size_ == 0) {
        const std::string line = headerLine(header);
        const std::string error = writeAll(fd_, line);
        if (!error.empty()) return refuse(Opened::failed, error);
        size_ = line.size();
    }
    unsynced_ = true;
    std::string error = sync();
    if (error.empty() && created) error = syncDirectoryOf(path);
    if (!error.empty()) return refuse(Opened::failed, error);
    return result;
}

std::string CheckpointFile::appendText(const std::string& text) {
    const std::string error = writeAll(fd_, text);
    if (!error.empty()) return error;
    size_ += text.size();
    unsynced_ = true;
    return syncIfDue();
}

std::string CheckpointFile::appendChunk(const ChunkRecord& r, const std::vector<std::pair<int64_t, int64_t>>& unknown) {
    std::string text;
    for (const auto& [first, last] : unknown) {
        text += figuresLine(first, &r.sources[static_cast<size_t>(first - r.chunk.first)],
                            static_cast<size_t>(last - first + 1));
    }
    const uint64_t check = figuresCheck(r.sources.data(), r.sources.size());
    text += runLine(r.chunk.repetition, r.chunk.first, r.chunk.last, r.cpu_ns, check);
    runs_.push_back({r.chunk.repetition, r.chunk.first, r.chunk.last, r.cpu_ns});
    return appendText(text);
}

std::string CheckpointFile::syncIfDue() {
    if (fd_ < 0 || !unsynced_ || monotonicNs() - last_sync_ns_ < kSyncEveryNs) return {};
    return sync();
}

std::string CheckpointFile::sync() {
    if (fd_ < 0 || !unsynced_) return {};
    if (::fdatasync(fd_) != 0) return std::strerror(errno);
    last_sync_ns_ = monotonicNs();
    unsynced_ = false;
    // Everything before the mark is on the disk; the mark itself goes with the next sync.
    const std::string mark = markLine(size_);
    const std::string error = writeAll(fd_, mark);
    if (!error.empty()) return error;
    size_ += mark.size();
    return {};
}

bool CheckpointFile::compactionDue(int64_t known) const {
    // A run line for every 4 sources known, and a floor for small networks.
    return runLines() > 4096 + known / 4;
}

// Folds the run lines of complete repetitions into done lines.
std::string CheckpointFile::compactedText(const SweepTally& tally) {
    std::map<int32_t, std::vector<Run>> by_repetition;
    for (const Run& r : runs_) by_repetition[r.repetition].push_back(r);
    std::vector<Run> kept;
    for (auto& [repetition, runs] : by_repetition) {
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
        int64_t next = 1;  // records never overlap: the plan refuses that
        uint64_t ns = 0;
        for (const Run& r : runs) {
            if (r.first == next) next = r.last + 1;
            ns += r.cpu_ns;
        }
        if (next == tally.nodes() + 1 && runs.front().first == 1) {
            dones_.push_back({repetition, repetition, ns});
        } else {
            kept.insert(kept.end(), runs.begin(), runs.end());
        }
    }
    std::sort(dones_.begin(), dones_.end(), [](const Done& a, const Done& b) { return a.from < b.from; });
    std::vector<Done> merged;
    for (const Done& d : dones_) {
        if (!merged.empty() && merged.back().to + 1 == d.from) {
            merged.back().to = d.to;
            merged.back().cpu_ns += d.cpu_ns;
        } else {
            merged.push_back(d);
        }
    }
    dones_ = merged;
    runs_ = kept;

    std::string text = headerLine(header_);
    for (int64_t s = 1; s <= tally.nodes();) {
        if (!tally.known(s)) {
            ++s;
            continue;
        }
        std::vector<SourceFigures> line;
        while (s <= tally.nodes() && tally.known(s) && static_cast<int64_t>(line.size()) < kLargestChunk) {
            line.push_back(tally.figures(s++));
        }
        text += figuresLine(s - static_cast<int64_t>(line.size()), line.data(), line.size());
    }
    for (const Done& d : dones_) text += doneLine(d.from, d.to, d.cpu_ns);
    for (const Run& r : runs_) text += runLine(r.repetition, r.first, r.last, r.cpu_ns, tally.checkOf(r.first, r.last));
    return text;
}

std::string CheckpointFile::compact(const SweepTally& tally) {
    if (fd_ < 0) return {};
    std::string text = compactedText(tally);
    text += markLine(text.size());
    std::string temporary = path_ + kTemporaryMark + "XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return std::strerror(errno);
    std::string error;
    lockWhole(fd);  // held before the file takes the checkpoint's name
    error = writeAll(fd, text);
    if (error.empty() && ::fdatasync(fd) != 0) error = std::strerror(errno);
    if (error.empty() && ::fchmod(fd, newFileMode()) != 0) error = std::strerror(errno);
    if (error.empty() && ::fcntl(fd, F_SETFL, O_APPEND) != 0) error = std::strerror(errno);
    if (error.empty() && ::rename(temporary.c_str(), path_.c_str()) != 0) error = std::strerror(errno);
    if (!error.empty()) {
        ::unlink(temporary.c_str());
        ::close(fd);
        return error;
    }
    ::close(fd_);  // the old file, and its lock
    fd_ = fd;
    size_ = text.size();
    unsynced_ = false;
    last_sync_ns_ = monotonicNs();
    return syncDirectoryOf(path_);
}

std::string CheckpointFile::closeKeeping() {
    if (fd_ < 0) return {};
    std::string error = sync();
    if (error.empty() && ::fdatasync(fd_) != 0) error = std::strerror(errno);  // the last mark too
    if (::close(fd_) != 0 && error.empty()) error = std::strerror(errno);
    fd_ = -1;
    return error;
}

std::string CheckpointFile::closeRemoving() {
    std::string error;
    if (!path_.empty() && ::unlink(path_.c_str()) != 0 && errno != ENOENT) error = std::strerror(errno);
    if (error.empty()) error = syncDirectoryOf(path_);
    if (fd_ >= 0) ::close(fd_);  // the lock goes with it
    fd_ = -1;
    return error;
}

CheckpointFile::~CheckpointFile() {
    if (fd_ >= 0) closeKeeping();
}

std::string readCheckpointText(const std::string& text, const CheckpointHeader& expected, const LineSink& sink,
                               CheckpointScan& scan) {
    const ReadAt read = [&](uint64_t offset, char* to, size_t size) -> int64_t {
        if (offset >= text.size()) return 0;
        const size_t n = std::min<size_t>(size, text.size() - offset);
        std::memcpy(to, text.data() + offset, n);
        return static_cast<int64_t>(n);
    };
    return readCheckpoint(read, expected, sink, scan);
}
