#include "checkpoint_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "report/report.h"

namespace {

constexpr uint64_t kSyncEveryNs = 2000000000u;

uint64_t monotonicNs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

std::string writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::strerror(n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
    return {};
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Opens an existing file, or creates it, never through a symbolic link.
int openNoFollow(const std::string& path, bool& created) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) {
            created = false;
            return fd;
        }
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {  // EEXIST: made meanwhile by another run; open that one
            created = fd >= 0;
            return fd;
        }
    }
    return -1;
}

// An advisory lock on the whole file, released when the file is closed.
// Returns 0, or the errno of the attempt.
int lockWhole(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return 0;
    if (errno != EINVAL) return errno;  // EINVAL: a kernel without such locks; try the classic one
#endif
    return ::fcntl(fd, F_SETLK, &lock) == 0 ? 0 : errno;
}

}  // namespace

std::string syncDirectoryOf(const std::string& path) {
    const int fd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync a directory
    const int error = errno;
    ::close(fd);
    return ok ? "" : std::strerror(error);
}

std::string writeFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return std::strerror(errno);
    std::FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return std::strerror(error);
    }
    errno = 0;
    const bool written = write(file) && std::fflush(file) == 0;
    std::string error = written ? "" : std::strerror(errno != 0 ? errno : EIO);
    if (error.empty() && ::fsync(fd) != 0) error = std::strerror(errno);
    if (::fchmod(fd, 0644) != 0 && error.empty()) error = std::strerror(errno);
    if (std::fclose(file) != 0 && error.empty()) error = std::strerror(errno);
    if (error.empty() && ::rename(temporary.c_str(), path.c_str()) != 0) error = std::strerror(errno);
    if (!error.empty()) {
        ::unlink(temporary.c_str());
        return error;
    }
    return syncDirectoryOf(path);
}

std::string writeFileSafely(const std::string& path, const std::string& text) {
    return writeFileSafely(path, [&](std::FILE* file) { return std::fwrite(text.data(), 1, text.size(), file) == text.size(); });
}

std::string CheckpointFile::open(const std::string& path, const CheckpointHeader& header, const RecordSink& sink,
                                 CheckpointScan& scan, std::string& note) {
    path_ = path;
    bool created = false;
    fd_ = openNoFollow(path, created);
    if (fd_ < 0) return errno == ELOOP ? "it is a symbolic link, which is not followed" : std::strerror(errno);
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return "it is not a regular file";
    }
    const int locked = lockWhole(fd_);
    if (locked == EAGAIN || locked == EACCES) {
        ::close(fd_);
        fd_ = -1;
        return kInUse;
    }
    if (locked != 0) note = std::string("its file system gives no locks (") + std::strerror(locked) + "); two runs on it would spoil it";
    const int fd = fd_;
    const ReadAt read = [fd](uint64_t offset, char* to, size_t size) -> int64_t {
        for (;;) {
            const ssize_t n = ::pread(fd, to, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    };
    const std::string refused = readCheckpoint(read, header, sink, scan);
    if (!refused.empty()) {
        ::close(fd_);  // left as it is
        fd_ = -1;
        return refused;
    }
    if (::ftruncate(fd_, static_cast<off_t>(scan.good_bytes)) != 0) return std::strerror(errno);
    size_ = scan.good_bytes;
    if (size_ == 0) {
        const std::string line = headerLine(header);
        const std::string error = writeAll(fd_, line);
        if (!error.empty()) return error;
        size_ = line.size();
    }
    unsynced_ = true;
    const std::string error = sync();
    if (!error.empty()) return error;
    return created ? syncDirectoryOf(path) : "";
}

std::string CheckpointFile::append(const ChunkRecord& record) {
    const std::string line = recordLine(record);
    const std::string error = writeAll(fd_, line);
    if (!error.empty()) return error;
    size_ += line.size();
    unsynced_ = true;
    return syncIfDue();
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

std::string CheckpointFile::close() {
    if (fd_ < 0) return {};
    std::string error = sync();
    if (error.empty() && ::fdatasync(fd_) != 0) error = std::strerror(errno);  // the last mark too
    if (::close(fd_) != 0 && error.empty()) error = std::strerror(errno);
    fd_ = -1;
    return error;
}

std::string CheckpointFile::remove() {
    std::string error;
    if (!path_.empty() && ::unlink(path_.c_str()) != 0 && errno != ENOENT) error = std::strerror(errno);
    if (error.empty()) error = syncDirectoryOf(path_);
    if (fd_ >= 0) ::close(fd_);  // the lock goes with it
    fd_ = -1;
    return error;
}

CheckpointFile::~CheckpointFile() {
    if (fd_ >= 0) close();
}

namespace {

std::string finishedHead(const CheckpointHeader& header) {
    std::string head = headerLine(header);  // "spc_sweep checkpoint 2 nodes ... crc C"
    head = head.substr(0, head.rfind(" crc "));
    return head.replace(0, std::string("spc_sweep checkpoint").size(), "spc_sweep finished");
}

}  // namespace

std::string finishedText(const CheckpointHeader& header, const FinishedRecord& r) {
    std::ostringstream body;
    body.precision(17);
    body << "sum " << formatInteger(r.sum) << " scans " << r.scans << " ns " << r.cpu_ns << " wall " << r.wall_seconds
         << " ranks " << r.ranks << " resumed " << r.resumed << " diameter " << r.diameter << " radius " << r.radius
         << " ended " << r.ended;
    return withCrc(finishedHead(header)) + withCrc(body.str());
}

std::string readFinished(const std::string& path, const CheckpointHeader& header, FinishedRecord& r) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? "absent" : std::strerror(errno);
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (got < 0) return std::strerror(errno);
    std::istringstream lines(std::string(buffer, static_cast<size_t>(got)));
    std::string first, second, extra, head, body;
    if (!std::getline(lines, first) || !std::getline(lines, second) || std::getline(lines, extra) ||
        !checkedBody(first, head) || !checkedBody(second, body)) {
        return "it is damaged";
    }
    if (head != finishedHead(header)) return "it is of another network or repetition count";
    std::istringstream in(body);
    std::string sum, words[9];
    in >> words[0] >> sum >> words[1] >> r.scans >> words[2] >> r.cpu_ns >> words[3] >> r.wall_seconds >> words[4] >>
        r.ranks >> words[5] >> r.resumed >> words[6] >> r.diameter >> words[7] >> r.radius >> words[8] >> r.ended;
    const bool negative = !sum.empty() && sum[0] == '-';
    int128 value = 0;
    for (size_t i = negative ? 1 : 0; i < sum.size(); ++i) {
        if (sum[i] < '0' || sum[i] > '9' || sum.size() > 41) return "it is damaged";
        value = value * 10 + (sum[i] - '0');
    }
    r.sum = negative ? -value : value;
    if (!in || words[0] != "sum" || words[8] != "ended") return "it is damaged";
    return {};
}
