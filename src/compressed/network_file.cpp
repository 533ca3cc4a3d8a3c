#include "network_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "compressed_input.h"
#include "loader/network_loader.h"

namespace {

// The first bytes of the file, which tell its kind (fewer at its end).
std::string readStart(int fd, std::vector<unsigned char>& start) {
    start.resize(6);
    size_t got = 0;
    while (got < start.size()) {
        const ssize_t n = ::read(fd, start.data() + got, start.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::string("cannot be read: ") + std::strerror(errno);
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    start.resize(got);
    return {};
}

std::string refusedKind(const std::string& path, Compression kind) {
    const Compression named = compressionNamed(path);
    if (kind == Compression::other) {
        return "is compressed or archived in a format that cannot be read here (gzip, xz and bzip2 can); "
               "decompress it first";
    }
    if (kind == Compression::none && named != Compression::none) {
        return std::string("is named as ") + (named == Compression::other ? "compressed" : compressionName(named)) +
               " data, but its first bytes are not; it was not read";
    }
    if (!compressionBuilt(kind)) {
        return std::string("is ") + compressionName(kind) + " data, which this build cannot read: it was built without " +
               compressionLibrary(kind);
    }
    return {};
}

// Room to reserve for arcs: a compressed file's text is unknown, so its
// size is taken at a generous ratio (the declared count still bounds it).
int64_t textSizeHint(int fd, Compression kind) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return kind == Compression::none ? static_cast<int64_t>(st.st_size) : static_cast<int64_t>(st.st_size) * 64;
}

}  // namespace

std::string readNetworkFile(const std::string& path, Network& network, const std::function<bool()>& keep_going) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "is a directory";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string("cannot be opened: ") + std::strerror(errno);
    std::vector<unsigned char> start;
    std::string why = readStart(fd, start);
    const Compression kind = compressionOf(start.data(), start.size());
    if (why.empty()) why = refusedKind(path, kind);
    if (why.empty()) {
        const int64_t hint = textSizeHint(fd, kind);
        DecompressingInput input(fd, kind, std::move(start));
        why = readNetwork(input, network, keep_going, nullptr, hint);
        // The stream's own fault comes first: the reader saw its text end early.
        if (!input.error().empty()) {
            clearNetwork(network);
            why = input.error();
        }
    }
    ::close(fd);
    return why;
}
