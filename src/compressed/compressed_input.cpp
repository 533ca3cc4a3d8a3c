#include "compressed_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef SPC_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef SPC_HAVE_LZMA
#include <lzma.h>
#endif
#ifdef SPC_HAVE_BZIP2
#include <bzlib.h>
#endif

namespace {

bool startsWith(const unsigned char* p, size_t size, const char* magic, size_t length) {
    return size >= length && std::memcmp(p, magic, length) == 0;
}

bool endsWith(const std::string& name, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return name.size() > n && name.compare(name.size() - n, n, suffix) == 0;
}

constexpr size_t kBlock = size_t{1} << 18;  // bytes read and decoded at a time

}  // namespace

Compression compressionOf(const unsigned char* p, size_t size) {
    if (startsWith(p, size, "\x1f\x8b", 2)) return Compression::gzip;
    if (startsWith(p, size, "\xfd" "7zXZ\0", 6)) return Compression::xz;
    if (startsWith(p, size, "BZh", 3) && size >= 4 && p[3] >= '1' && p[3] <= '9') return Compression::bzip2;
    static const struct { const char* magic; size_t length; } others[] = {
        {"\x28\xb5\x2f\xfd", 4},          // zstd
        {"\x04\x22\x4d\x18", 4},          // lz4
        {"PK\x03\x04", 4},                // zip
        {"7z\xbc\xaf\x27\x1c", 6},        // 7z
        {"\x1f\x9d", 2},                  // compress (.Z)
        {"LZIP", 4},                      // lzip
    };
    for (const auto& o : others) {
        if (startsWith(p, size, o.magic, o.length)) return Compression::other;
    }
    return Compression::none;
}

Compression compressionNamed(const std::string& name) {
    if (endsWith(name, ".gz")) return Compression::gzip;
    if (endsWith(name, ".xz")) return Compression::xz;
    if (endsWith(name, ".bz2")) return Compression::bzip2;
    for (const char* s : {".zst", ".lz4", ".zip", ".7z", ".Z", ".lz"}) {
        if (endsWith(name, s)) return Compression::other;
    }
    return Compression::none;
}

const char* compressionName(Compression kind) {
    switch (kind) {
        case Compression::none: return "plain text";
        case Compression::gzip: return "gzip";
        case Compression::xz: return "xz";
        case Compression::bzip2: return "bzip2";
        case Compression::other: break;
    }
    return "an unreadable format";
}

bool compressionBuilt(Compression kind) {
    switch (kind) {
        case Compression::none: return true;
#ifdef SPC_HAVE_ZLIB
        case Compression::gzip: return true;
#endif
#ifdef SPC_HAVE_LZMA
        case Compression::xz: return true;
#endif
#ifdef SPC_HAVE_BZIP2
        case Compression::bzip2: return true;
#endif
        default: return false;
    }
}

const char* compressionLibrary(Compression kind) {
    return kind == Compression::gzip ? "zlib" : kind == Compression::xz ? "liblzma" : "libbz2";
}

std::string compressionsBuiltText() {
    std::string built = "plain text", lacking;
    for (Compression k : {Compression::gzip, Compression::xz, Compression::bzip2}) {
        if (compressionBuilt(k)) {
            built += std::string(", ") + compressionName(k);
        } else {
            lacking += std::string(lacking.empty() ? "" : ", ") + compressionLibrary(k) + " for " + compressionName(k);
        }
    }
    return lacking.empty() ? built : built + " (this build lacks " + lacking + ")";
}

// One kind's decoder: step() decodes what it can of the input into the
// output and says whether the stream (or gzip member) ended or is damaged.
struct DecompressingInput::Decoder {
    enum Step { going, ended, damaged };
    virtual ~Decoder() = default;
    virtual Step step(const unsigned char* in, size_t in_len, size_t& used, char* out, size_t out_len, size_t& made,
                      bool input_ends, std::string& why) = 0;
    // Ready for another member that starts with these bytes; false when
    // they start none (the data after the end is then refused).
    virtual bool nextMember(const unsigned char* p, size_t size) = 0;
};

namespace {

#ifdef SPC_HAVE_ZLIB
struct GzipDecoder : DecompressingInput::Decoder {
    z_stream z{};
    GzipDecoder() {
        if (inflateInit2(&z, 15 + 16) != Z_OK) throw std::bad_alloc();  // 16: gzip's wrapper only
    }
    ~GzipDecoder() override { inflateEnd(&z); }
    Step step(const unsigned char* in, size_t in_len, size_t& used, char* out, size_t out_len, size_t& made, bool,
              std::string& why) override {
        z.next_in = const_cast<unsigned char*>(in);
        z.avail_in = static_cast<uInt>(in_len);
        z.next_out = reinterpret_cast<unsigned char*>(out);
        z.avail_out = static_cast<uInt>(out_len);
        const int r = inflate(&z, Z_NO_FLUSH);
        used = in_len - z.avail_in;
        made = out_len - z.avail_out;
        if (r == Z_STREAM_END) return ended;
        if (r == Z_OK || r == Z_BUF_ERROR) return going;
        why = r == Z_MEM_ERROR ? "not enough memory to decompress it" : z.msg ? z.msg : "invalid data";
        return damaged;
    }
    bool nextMember(const unsigned char* p, size_t size) override {
        return compressionOf(p, size) == Compression::gzip && inflateReset(&z) == Z_OK;
    }
};
#endif

#ifdef SPC_HAVE_LZMA
struct XzDecoder : DecompressingInput::Decoder {
    lzma_stream s = LZMA_STREAM_INIT;
    XzDecoder() {
        // Concatenated: every stream of the file, padding between them allowed.
        if (lzma_stream_decoder(&s, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) throw std::bad_alloc();
    }
    ~XzDecoder() override { lzma_end(&s); }
    Step step(const unsigned char* in, size_t in_len, size_t& used, char* out, size_t out_len, size_t& made,
              bool input_ends, std::string& why) override {
        s.next_in = in;
        s.avail_in = in_len;
        s.next_out = reinterpret_cast<uint8_t*>(out);
        s.avail_out = out_len;
        const lzma_ret r = lzma_code(&s, input_ends ? LZMA_FINISH : LZMA_RUN);
        used = in_len - s.avail_in;
        made = out_len - s.avail_out;
        switch (r) {
            case LZMA_STREAM_END: return ended;
            case LZMA_OK: return going;
            case LZMA_BUF_ERROR: return going;  // no progress: the caller tells a cut
            case LZMA_MEM_ERROR: why = "not enough memory to decompress it"; break;
            case LZMA_FORMAT_ERROR: why = "not in the xz format"; break;
            case LZMA_OPTIONS_ERROR: why = "options this xz library does not support"; break;
            default: why = "corrupt data"; break;
        }
        return damaged;
    }
    bool nextMember(const unsigned char*, size_t) override { return false; }  // the decoder reads them all
};
#endif

#ifdef SPC_HAVE_BZIP2
struct Bzip2Decoder : DecompressingInput::Decoder {
    bz_stream s{};
    Bzip2Decoder() {
        if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) throw std::bad_alloc();
    }
    ~Bzip2Decoder() override { BZ2_bzDecompressEnd(&s); }
    Step step(const unsigned char* in, size_t in_len, size_t& used, char* out, size_t out_len, size_t& made, bool,
              std::string& why) override {
        s.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
        s.avail_in = static_cast<unsigned>(in_len);
        s.next_out = out;
        s.avail_out = static_cast<unsigned>(out_len);
        const int r = BZ2_bzDecompress(&s);
        used = in_len - s.avail_in;
        made = out_len - s.avail_out;
        if (r == BZ_STREAM_END) return ended;
        if (r == BZ_OK) return going;
        why = r == BZ_MEM_ERROR ? "not enough memory to decompress it"
              : r == BZ_DATA_ERROR_MAGIC ? "not in the bzip2 format" : "corrupt data (a block's check fails)";
        return damaged;
    }
    bool nextMember(const unsigned char* p, size_t size) override {
        if (compressionOf(p, size) != Compression::bzip2) return false;
        BZ2_bzDecompressEnd(&s);
        s = bz_stream{};
        return BZ2_bzDecompressInit(&s, 0, 0) == BZ_OK;
    }
};
#endif

std::unique_ptr<DecompressingInput::Decoder> makeDecoder(Compression kind) {
    switch (kind) {
#ifdef SPC_HAVE_ZLIB
        case Compression::gzip: return std::make_unique<GzipDecoder>();
#endif
#ifdef SPC_HAVE_LZMA
        case Compression::xz: return std::make_unique<XzDecoder>();
#endif
#ifdef SPC_HAVE_BZIP2
        case Compression::bzip2: return std::make_unique<Bzip2Decoder>();
#endif
        default: return nullptr;
    }
}

}  // namespace

DecompressingInput::DecompressingInput(int fd, Compression kind, std::vector<unsigned char> start)
    : fd_(fd), kind_(kind), decoder_(makeDecoder(kind)), in_(std::move(start)), out_(kBlock) {
    in_len_ = in_.size();
    in_.resize(std::max(kBlock, in_len_));
    if (!decoder_ && kind != Compression::none) {
        fail(std::string("this build cannot read ") + compressionName(kind) + " data");
    }
    setg(out_.data(), out_.data(), out_.data());
}

DecompressingInput::~DecompressingInput() = default;

bool DecompressingInput::fill() {
    if (file_ended_) return false;
    // Keep what is unread at the front.
    std::memmove(in_.data(), in_.data() + in_pos_, in_len_ - in_pos_);
    file_offset_ += in_pos_;
    in_len_ -= in_pos_;
    in_pos_ = 0;
    if (in_len_ == in_.size()) in_.resize(in_.size() * 2);
    for (;;) {
        const ssize_t got = ::read(fd_, in_.data() + in_len_, in_.size() - in_len_);
        if (got > 0) {
            in_len_ += static_cast<size_t>(got);
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            fail(std::string("the file cannot be read: ") + std::strerror(errno));
            return false;
        }
        file_ended_ = true;
        return false;
    }
}

void DecompressingInput::fail(const std::string& what) {
    if (!error_.empty()) return;
    error_ = what;
    ended_ = true;
}

DecompressingInput::int_type DecompressingInput::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    text_bytes_ += static_cast<uint64_t>(egptr() - eback());
    setg(out_.data(), out_.data(), out_.data());
    if (kind_ == Compression::none) return passPlainText();
    bool stalled = false;  // the decoder took nothing: it needs more than is here
    while (!ended_) {
        if (in_pos_ == in_len_ || stalled || (between_members_ && in_len_ - in_pos_ < 6)) fill();
        if (!error_.empty()) break;
        const size_t left = in_len_ - in_pos_;
        if (between_members_) {
            if (left == 0) {
                ended_ = true;
                break;
            }
            if (!decoder_->nextMember(in_.data() + in_pos_, left)) {
                fail("the " + std::string(compressionName(kind_)) + " data ends at byte " +
                     std::to_string(file_offset_ + in_pos_) + " of the file, and what follows is not more of it");
                break;
            }
            between_members_ = false;
        }
        const bool input_ends = file_ended_;
        size_t used = 0, made = 0;
        std::string why;
        const Decoder::Step step =
            decoder_->step(in_.data() + in_pos_, left, used, out_.data(), out_.size(), made, input_ends, why);
        in_pos_ += used;
        if (made > 0) {
            text_lines_ += std::count(out_.data(), out_.data() + made, '\n');
            setg(out_.data(), out_.data(), out_.data() + made);
        }
        const std::string where = " (" + std::to_string(text_bytes_ + made) + " bytes of text, line " +
                                  std::to_string(text_lines_) + ")";
        if (step == Decoder::damaged) {
            fail("the " + std::string(compressionName(kind_)) + " data is damaged at byte " +
                 std::to_string(file_offset_ + in_pos_) + " of the file" + where + ": " + why);
        } else if (step == Decoder::ended) {
            between_members_ = true;
            if (kind_ == Compression::xz) ended_ = true;  // its decoder took every stream
        }
        stalled = used == 0 && made == 0;
        if (step == Decoder::going && stalled && input_ends) {
            fail("the " + std::string(compressionName(kind_)) + " data is cut short: the file ends at byte " +
                 std::to_string(file_offset_ + in_len_) + where);
        }
        if (made > 0) return traits_type::to_int_type(*gptr());
    }
    return traits_type::eof();
}

// Plain text: the bytes looked at first, then the file as it is read.
DecompressingInput::int_type DecompressingInput::passPlainText() {
    size_t made = 0;
    if (in_pos_ < in_len_) {
        made = in_len_ - in_pos_;
        std::memcpy(out_.data(), in_.data() + in_pos_, made);
        in_pos_ = in_len_;
    }
    while (made == 0 && !ended_) {
        const ssize_t got = ::read(fd_, out_.data(), out_.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail(std::string("the file cannot be read: ") + std::strerror(errno));
        if (got <= 0) ended_ = true;
        if (got > 0) made = static_cast<size_t>(got);
    }
    if (made == 0) return traits_type::eof();
    setg(out_.data(), out_.data(), out_.data() + made);
    return traits_type::to_int_type(*gptr());
}
