#include "finished_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "durable_files.h"
#include "report/report.h"

namespace {

std::string headBody(const CheckpointHeader& h, int format) {
    return "spc_sweep finished " + std::to_string(format) + " nodes " + std::to_string(h.network.nodes) + " arcs " +
           std::to_string(h.network.arcs) + " hash " + hexText(h.network.hash, 16) + " repetitions " +
           std::to_string(h.repetitions) + (h.phast ? " method phast" : "") +
           (h.sources > 0 ? " sources " + std::to_string(h.sources) + " " + hexText(h.sources_hash, 16) : "") +
           (h.harmonic ? " harmonic" : "");
}

std::string totalsBody(const NetworkTotals& t) {
    std::ostringstream body;
    body.precision(17);
    body << "totals sum " << formatInteger(t.sum) << " scans " << t.scans << " ns " << t.cpu_ns << " wall "
         << t.wall_seconds << " ranks " << t.ranks << " threads " << t.threads << " resumed " << t.resumed << " chunks " << t.chunks
         << " diameter " << t.diameter << " radius " << t.radius << " started " << escapeField(t.started) << " ended "
         << escapeField(t.ended) << " host " << escapeField(t.host);
    return body.str();
}

bool takeSum(const std::string& word, int128& sum) { return parseInteger(word, -(int128{1} << 100), int128{1} << 100, sum); }

bool parseTotals(const std::string& body, NetworkTotals& t) {
    std::istringstream in(body);
    std::string w[14], sum, started, ended, host;
    in >> w[0] >> w[1] >> sum >> w[2] >> t.scans >> w[3] >> t.cpu_ns >> w[4] >> t.wall_seconds >> w[5] >> t.ranks >>
        w[13] >> t.threads >> w[6] >> t.resumed >> w[7] >> t.chunks >> w[8] >> t.diameter >> w[9] >> t.radius >>
        w[10] >> started >> w[11] >> ended >> w[12] >> host;
    std::string rest;
    return in && !(in >> rest) && w[0] == "totals" && w[1] == "sum" && w[2] == "scans" && w[3] == "ns" &&
           w[4] == "wall" && w[5] == "ranks" && w[13] == "threads" && w[6] == "resumed" && w[7] == "chunks" &&
           w[8] == "diameter" && w[9] == "radius" && w[10] == "started" && w[11] == "ended" && w[12] == "host" &&
           takeSum(sum, t.sum) &&
           unescapeField(started, t.started) && unescapeField(ended, t.ended) && unescapeField(host, t.host);
}

// The body of the earlier format: "sum S scans K ns T wall W ranks P resumed X
// diameter D radius Q ended E".
bool parseEarlierTotals(const std::string& body, NetworkTotals& t) {
    std::istringstream in(body);
    std::string w[9], sum;
    in >> w[0] >> sum >> w[1] >> t.scans >> w[2] >> t.cpu_ns >> w[3] >> t.wall_seconds >> w[4] >> t.ranks >> w[5] >>
        t.resumed >> w[6] >> t.diameter >> w[7] >> t.radius >> w[8] >> t.ended;
    return in && w[0] == "sum" && w[8] == "ended" && takeSum(sum, t.sum);
}

std::string keyText(const OutputKey& k) {
    return k.kind + " " + escapeField(k.file) + " " + escapeField(k.name) + " " + std::to_string(k.occurrence);
}

bool parseKey(std::istringstream& in, OutputKey& k) {
    std::string file, name;
    return static_cast<bool>(in >> k.kind >> file >> name >> k.occurrence) && unescapeField(file, k.file) &&
           unescapeField(name, k.name) && (k.kind == "log" || k.kind == "json" || k.kind == "per-source");
}

}  // namespace

std::string escapeField(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7f || c == '%') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out.empty() ? "%" : out;  // a lone % stands for the empty field
}

bool unescapeField(const std::string& text, std::string& out) {
    out.clear();
    if (text == "%") return true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            return false;
        }
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

std::string FinishedRecord::create(const std::string& path, const CheckpointHeader& header, const SweepTally& tally,
                                   const NetworkTotals& totals) {
    removeLeftoverTemporaries(path);
    return writeFileSafely(path, [&](std::FILE* out) {
        const std::string head = withCrc(headBody(header, 3));
        bool ok = std::fputs(head.c_str(), out) >= 0;
        std::vector<SourceFigures> line;
        for (int64_t s = 1; ok && s <= tally.nodes(); s += kLargestChunk) {
            line.clear();
            for (int64_t t = s; t <= tally.nodes() && t < s + kLargestChunk; ++t) line.push_back(tally.figures(t));
            ok = std::fputs(figuresLine(s, line.data(), line.size()).c_str(), out) >= 0;
        }
        return ok && std::fputs(withCrc(totalsBody(totals)).c_str(), out) >= 0;
    });
}

FinishedRecord::Read FinishedRecord::openRecord(const std::string& path, const CheckpointHeader& header, std::string& why) {
    path_ = path;
    header_ = header;
    fd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
        if (errno == ENOENT) return Read::absent;
        why = errno == ELOOP ? "it is a symbolic link, which is not followed" : std::strerror(errno);
        return Read::refused;
    }
    const auto refuse = [this, &why](const std::string& reason) {
        ::close(fd_);
        fd_ = -1;
        why = reason;
        return reason.empty() ? Read::in_use : Read::refused;
    };
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return refuse("it is not a regular file");
    const std::string untrusted = checkTrusted(fd_);
    if (!untrusted.empty()) return refuse(untrusted);
    const int locked = lockWhole(fd_);
    if (locked == EAGAIN || locked == EACCES) return refuse("");
    const ReadAt read = readAtOf(fd_);
    LineReader lines(read);
    std::string line, body;
    uint64_t at = 0, good = 0;
    bool ended = false, too_long = false, have_totals = false;
    for (int64_t number = 1; lines.next(line, at, ended, too_long); ++number) {
        const bool intact = ended && !too_long && checkedBody(line, body);
        if (!intact) {
            // Only a line appended after the totals may be cut short, and only the last.
            if (!have_totals || lines.next(line, at, ended, too_long)) return refuse("it is damaged");
            break;
        }
        if (number == 1) {
            earlier_ = body == headBody(header, 2);
            if (body != headBody(header, 3) && !earlier_) return refuse("it is of another network or repetition count");
        } else if (earlier_) {
            if (number > 2 || !parseEarlierTotals(body, totals_)) return refuse("it is damaged");
            have_totals = true;
        } else if (body.compare(0, 8, "figures ") == 0) {
            if (have_totals) return refuse("it is damaged");
        } else if (body.compare(0, 7, "totals ") == 0) {
            if (have_totals || !parseTotals(body, totals_)) return refuse("it is damaged");
            have_totals = true;
        } else {
            std::istringstream in(body);
            std::string word;
            Entry e;
            in >> word;
            bool good_entry = have_totals && parseKey(in, e.key);
            std::string unit;
            if (word == "begun") {
                good_entry = good_entry && in >> unit >> e.at && unit == "at";
            } else if (word == "served") {
                std::string unit2;
                good_entry = good_entry && in >> unit >> e.size >> unit2 >> e.hash && unit == "size" && unit2 == "hash";
                e.done = true;
            } else {
                good_entry = false;
            }
            if (!good_entry) return refuse("it is damaged");
            entries_.push_back(e);
        }
        good = at + line.size() + 1;
    }
    if (lines.failed()) return refuse("it cannot be read");
    if (!have_totals) return refuse("it is damaged");
    if (::ftruncate(fd_, static_cast<off_t>(good)) != 0) return refuse(std::strerror(errno));
    return Read::ok;
}

std::string FinishedRecord::readFigures(SweepTally& tally) const {
    if (earlier_) return "the record holds no figures of the sources";
    const ReadAt read = readAtOf(fd_);
    LineReader lines(read);
    std::string line, body;
    uint64_t at = 0;
    bool ended = false, too_long = false;
    CheckpointLine figures;
    while (lines.next(line, at, ended, too_long)) {
        if (!checkedBody(line, body) || body.compare(0, 8, "figures ") != 0) continue;
        if (!parseFiguresBody(body, header_.network.nodes, header_.network.arcs, figures)) return "it is damaged";
        const std::string refused = tally.learn(figures.first, figures.sources, "the record");
        if (!refused.empty()) return refused;
    }
    if (tally.knownSources() != header_.positions()) return "it lacks the figures of some sources";
    return {};
}

bool FinishedRecord::served(const OutputKey& key, uint64_t* size, uint64_t* hash) const {
    for (const Entry& e : entries_) {
        if (e.done && e.key == key) {
            if (size) *size = e.size;
            if (hash) *hash = e.hash;
            return true;
        }
    }
    return false;
}

bool FinishedRecord::begun(const OutputKey& key, uint64_t& at) const {
    for (const Entry& e : entries_) {
        if (!e.done && e.key == key) {
            at = e.at;
            return true;
        }
    }
    return false;
}

std::string FinishedRecord::appendSynced(const std::string& body) {
    if (fd_ < 0) return {};
    std::string error = writeAll(fd_, withCrc(body));
    if (error.empty() && ::fdatasync(fd_) != 0) error = std::strerror(errno);
    return error;
}

std::string FinishedRecord::noteBegun(const OutputKey& key, uint64_t at) {
    entries_.push_back({key, false, at, 0, 0});
    return appendSynced("begun " + keyText(key) + " at " + std::to_string(at));
}

std::string FinishedRecord::noteServed(const OutputKey& key, uint64_t size, uint64_t hash) {
    entries_.push_back({key, true, 0, size, hash});
    return appendSynced("served " + keyText(key) + " size " + std::to_string(size) + " hash " + std::to_string(hash));
}

void FinishedRecord::forget() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    totals_ = {};
    earlier_ = false;
    entries_.clear();
}

FinishedRecord::~FinishedRecord() { forget(); }
