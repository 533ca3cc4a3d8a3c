#include "durable_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

mode_t process_umask = 022;

}  // namespace

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void noteUmask() {
    process_umask = ::umask(022);
    ::umask(process_umask);
}

mode_t newFileMode() { return static_cast<mode_t>(0666) & ~process_umask; }

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

std::string syncDirectoryOf(const std::string& path) {
    const int fd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync a directory
    const int error = errno;
    ::close(fd);
    return ok ? "" : std::strerror(error);
}

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

std::string checkTrusted(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::strerror(errno);
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
        return "it belongs to another user (uid " + std::to_string(st.st_uid) + "), whose records are not taken";
    }
    if ((st.st_mode & S_IWOTH) != 0) return "any user may write it, so its records are not taken";
    return {};
}

std::string writeFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    std::string temporary = path + kTemporaryMark + "XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return std::strerror(errno);
    lockWhole(fd);  // a leftover to others only once this run is gone
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
    if (::fchmod(fd, newFileMode()) != 0 && error.empty()) error = std::strerror(errno);
    if (error.empty() && ::rename(temporary.c_str(), path.c_str()) != 0) error = std::strerror(errno);
    if (!error.empty()) ::unlink(temporary.c_str());
    if (std::fclose(file) != 0 && error.empty()) error = std::strerror(errno);
    if (!error.empty()) return error;
    return syncDirectoryOf(path);
}

std::string writeFileSafely(const std::string& path, const std::string& text) {
    return writeFileSafely(path, [&](std::FILE* file) { return std::fwrite(text.data(), 1, text.size(), file) == text.size(); });
}

void removeLeftoverTemporaries(const std::string& path) {
    const std::string dir = directoryOf(path);
    const std::string prefix = baseNameOf(path) + kTemporaryMark;
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) return;
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) leftovers.push_back(name);
    }
    ::closedir(listing);
    for (const std::string& name : leftovers) {
        const std::string leftover = dir + "/" + name;
        const int fd = ::open(leftover.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // Ours, and held by no run: its writer is gone.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && lockWhole(fd) == 0) {
            ::unlink(leftover.c_str());
        }
        ::close(fd);
    }
}

std::string appendToFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return std::strerror(errno);
    const ssize_t written = ::write(fd, text.data(), text.size());
    const int write_errno = errno;
    if (::close(fd) != 0 && written == static_cast<ssize_t>(text.size())) return std::strerror(errno);
    if (written != static_cast<ssize_t>(text.size())) return written < 0 ? std::strerror(write_errno) : "short write";
    return {};
}

int64_t fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool fileHoldsAfter(const std::string& path, uint64_t offset, const std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string tail;
    std::vector<char> buffer(1 << 16);
    for (uint64_t at = offset;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        tail.append(buffer.data(), static_cast<size_t>(n));
        at += static_cast<uint64_t>(n);
        if (tail.find(text) != std::string::npos) break;
        // Keep only what may still begin a match.
        if (tail.size() > text.size()) tail.erase(0, tail.size() - text.size());
    }
    ::close(fd);
    return tail.find(text) != std::string::npos;
}

void Fnv64::add(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 1099511628211u;
    }
}

void Fnv64::addValue(uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        hash ^= (value >> (8 * i)) & 0xff;
        hash *= 1099511628211u;
    }
}

bool hashFile(const std::string& path, uint64_t& size, uint64_t& hash) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    Fnv64 f;
    size = 0;
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        f.add(buffer.data(), static_cast<size_t>(n));
        size += static_cast<uint64_t>(n);
    }
    ::close(fd);
    hash = f.hash;
    return ok;
}
