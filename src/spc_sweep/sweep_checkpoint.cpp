#include "sweep_checkpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "report/report.h"

namespace {

constexpr uint64_t kSyncEveryNs = 2000000000u;

struct Fnv {
    uint64_t hash = 14695981039346656037u;
    void add(uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {  // little-endian, whatever the machine
            hash ^= (value >> (8 * i)) & 0xff;
            hash *= 1099511628211u;
        }
    }
};

std::string hex(uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string withCrc(const std::string& body) { return body + " crc " + hex(crc32(body), 8) + "\n"; }

std::string headerBody(const CheckpointHeader& h) {
    return "spc_sweep checkpoint 1 nodes " + std::to_string(h.network.nodes) + " arcs " +
           std::to_string(h.network.arcs) + " hash " + hex(h.network.hash, 16) + " repetitions " +
           std::to_string(h.repetitions) + " block " + std::to_string(h.block_size);
}

// Splits "BODY crc XXXXXXXX" and checks the CRC; false when it fails.
bool checkedBody(const std::string& line, std::string& body) {
    const size_t at = line.rfind(" crc ");
    if (at == std::string::npos || line.size() != at + 13) return false;
    body = line.substr(0, at);
    return hex(crc32(body), 8) == line.substr(at + 5);
}

bool parseInt128(const std::string& text, int128& out) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) i = 1;
    if (i == text.size() || text.size() > 41) return false;
    int128 value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    out = negative ? -value : value;
    return true;
}

// "unit U sum S scans A ns T" into a record.
bool parseRecordBody(const std::string& body, UnitRecord& record) {
    std::istringstream in(body);
    std::string unit_word, sum_word, scans_word, ns_word, sum_text;
    long long unit = 0, scans = 0;
    unsigned long long ns = 0;
    if (!(in >> unit_word >> unit >> sum_word >> sum_text >> scans_word >> scans >> ns_word >> ns)) return false;
    std::string rest;
    if (in >> rest) return false;
    if (unit_word != "unit" || sum_word != "sum" || scans_word != "scans" || ns_word != "ns") return false;
    if (!parseInt128(sum_text, record.sum) || scans < 0) return false;
    record.unit = unit;
    record.scans = scans;
    record.cpu_ns = ns;
    record.rank = -1;
    return true;
}

// What a header names, for the message that refuses it.
std::string headerSays(const std::string& body) {
    std::istringstream in(body);
    std::string word, said;
    while (in >> word) {
        if (word == "nodes" || word == "arcs" || word == "repetitions" || word == "block") {
            std::string value;
            in >> value;
            said += (said.empty() ? "" : ", ") + word + " " + value;
        }
    }
    return said.empty() ? "no header of spc_sweep" : said;
}

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

}  // namespace

uint32_t crc32(const std::string& text) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xffffffffu;
    for (unsigned char ch : text) c = table[(c ^ ch) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

NetworkFingerprint fingerprintLoadedNetwork() {
    Fnv f;
    f.add(static_cast<uint64_t>(num_nodes), 8);
    f.add(static_cast<uint64_t>(num_arcs), 8);
    for (int32_t x : point) f.add(static_cast<uint32_t>(x), 4);
    for (int32_t x : graph_head) f.add(static_cast<uint32_t>(x), 4);
    for (int32_t x : graph_length) f.add(static_cast<uint32_t>(x), 4);
    return {num_nodes, num_arcs, f.hash};
}

std::string checkpointPath(const std::string& dir, const CheckpointHeader& h) {
    return dir + "/spc_sweep-n" + std::to_string(h.network.nodes) + "-m" + std::to_string(h.network.arcs) + "-" +
           hex(h.network.hash, 16) + "-r" + std::to_string(h.repetitions) + ".checkpoint";
}

std::string headerLine(const CheckpointHeader& header) { return withCrc(headerBody(header)); }

std::string recordLine(const UnitRecord& r) {
    return withCrc("unit " + std::to_string(r.unit) + " sum " + formatInteger(r.sum) + " scans " +
                   std::to_string(r.scans) + " ns " + std::to_string(r.cpu_ns));
}

std::string parseCheckpoint(const std::string& text, const CheckpointHeader& expected, CheckpointContents& contents) {
    contents = {};
    const std::string header = headerLine(expected);
    const size_t header_end = text.find('\n');
    if (header_end == std::string::npos) {
        // Empty, or a header cut short while it was written: start afresh.
        if (header.compare(0, text.size(), text) != 0) return "it is not a checkpoint of spc_sweep";
        contents.dropped_tail = !text.empty();
        return {};
    }
    std::string body;
    if (!checkedBody(text.substr(0, header_end), body)) return "its header line is damaged";
    if (body != headerBody(expected)) {
        return "it belongs to another network or repetition count (its header says " + headerSays(body) + ")";
    }
    const SweepPlan plan = planSweep(static_cast<int32_t>(expected.network.nodes), expected.repetitions);
    std::vector<int64_t> seen(static_cast<size_t>(plan.units()), -1);  // index of each unit's record
    contents.good_bytes = header_end + 1;
    size_t start = header_end + 1;
    for (int64_t line_number = 2; start < text.size(); ++line_number) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {  // cut short by a crash
            contents.dropped_tail = true;
            break;
        }
        UnitRecord record;
        const bool last = end + 1 == text.size();
        const bool good = checkedBody(text.substr(start, end - start), body) && parseRecordBody(body, record) &&
                          record.unit >= 0 && record.unit < plan.units();
        if (!good) {
            if (last) {
                contents.dropped_tail = true;
                break;
            }
            return "line " + std::to_string(line_number) + " is damaged";
        }
        int64_t& index = seen[static_cast<size_t>(record.unit)];
        if (index >= 0) {
            const UnitRecord& before = contents.records[static_cast<size_t>(index)];
            if (before.sum != record.sum || before.scans != record.scans) {
                return "line " + std::to_string(line_number) + " records unit " + std::to_string(record.unit) +
                       " again with other figures";
            }
        } else {
            index = static_cast<int64_t>(contents.records.size());
            contents.records.push_back(record);
        }
        contents.good_bytes = end + 1;
        start = end + 1;
    }
    return {};
}

std::string readCheckpoint(const std::string& path, const CheckpointHeader& expected, CheckpointContents& contents) {
    contents = {};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    std::ifstream in(path, std::ios::binary);
    if (!in) return "it cannot be read";
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return "it cannot be read";
    return parseCheckpoint(text, expected, contents);
}

std::string CheckpointWriter::open(const std::string& path, const CheckpointHeader& header, uint64_t good_bytes) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) return std::strerror(errno);
    if (::ftruncate(fd_, static_cast<off_t>(good_bytes)) != 0) return std::strerror(errno);
    if (good_bytes == 0) {
        const std::string error = writeAll(fd_, headerLine(header));
        if (!error.empty()) return error;
    }
    return sync();
}

std::string CheckpointWriter::append(const UnitRecord& record) {
    const std::string error = writeAll(fd_, recordLine(record));
    if (!error.empty()) return error;
    unsynced_ = true;
    return syncIfDue();
}

std::string CheckpointWriter::syncIfDue() {
    if (fd_ < 0 || !unsynced_ || monotonicNs() - last_sync_ns_ < kSyncEveryNs) return {};
    return sync();
}

std::string CheckpointWriter::sync() {
    if (::fdatasync(fd_) != 0) return std::strerror(errno);
    last_sync_ns_ = monotonicNs();
    unsynced_ = false;
    return {};
}

std::string CheckpointWriter::close(bool remove) {
    std::string error;
    if (fd_ >= 0) {
        if (!remove) error = sync();
        if (::close(fd_) != 0 && error.empty()) error = std::strerror(errno);
        fd_ = -1;
    }
    if (remove && !path_.empty() && ::unlink(path_.c_str()) != 0 && errno != ENOENT && error.empty()) {
        error = std::strerror(errno);
    }
    return error;
}

CheckpointWriter::~CheckpointWriter() {
    if (fd_ >= 0) close(false);
}
