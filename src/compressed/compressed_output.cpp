#include "compressed_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

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

// One kind's encoder: takes what it can of the input, gives what it can of
// the output; at the finish, true once everything is out.
struct Encoder {
    virtual ~Encoder() = default;
    virtual bool step(const char* in, size_t in_len, size_t& used, char* out, size_t out_len, size_t& made,
                      bool finish) = 0;
};

#ifdef SPC_HAVE_ZLIB
struct GzipEncoder : Encoder {
    z_stream z{};
    GzipEncoder() {
        if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
    }
    ~GzipEncoder() override { deflateEnd(&z); }
    bool step(const char* in, size_t in_len, size_t& used, char* out, size_t out_len, size_t& made,
              bool finish) override {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
        z.avail_in = static_cast<uInt>(in_len);
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = static_cast<uInt>(out_len);
        const int r = deflate(&z, finish ? Z_FINISH : Z_NO_FLUSH);
        used = in_len - z.avail_in;
        made = out_len - z.avail_out;
        return r == Z_STREAM_END;
    }
};
#endif

#ifdef SPC_HAVE_LZMA
struct XzEncoder : Encoder {
    lzma_stream s = LZMA_STREAM_INIT;
    XzEncoder() {
        if (lzma_easy_encoder(&s, 6, LZMA_CHECK_CRC64) != LZMA_OK) throw std::bad_alloc();
    }
    ~XzEncoder() override { lzma_end(&s); }
    bool step(const char* in, size_t in_len, size_t& used, char* out, size_t out_len, size_t& made,
              bool finish) override {
        s.next_in = reinterpret_cast<const uint8_t*>(in);
        s.avail_in = in_len;
        s.next_out = reinterpret_cast<uint8_t*>(out);
        s.avail_out = out_len;
        const lzma_ret r = lzma_code(&s, finish ? LZMA_FINISH : LZMA_RUN);
        used = in_len - s.avail_in;
        made = out_len - s.avail_out;
        return r == LZMA_STREAM_END;
    }
};
#endif

#ifdef SPC_HAVE_BZIP2
struct Bzip2Encoder : Encoder {
    bz_stream s{};
    Bzip2Encoder() {
        if (BZ2_bzCompressInit(&s, 9, 0, 0) != BZ_OK) throw std::bad_alloc();
    }
    ~Bzip2Encoder() override { BZ2_bzCompressEnd(&s); }
    bool step(const char* in, size_t in_len, size_t& used, char* out, size_t out_len, size_t& made,
              bool finish) override {
        s.next_in = const_cast<char*>(in);
        s.avail_in = static_cast<unsigned>(in_len);
        s.next_out = out;
        s.avail_out = static_cast<unsigned>(out_len);
        const int r = BZ2_bzCompress(&s, finish ? BZ_FINISH : BZ_RUN);
        used = in_len - s.avail_in;
        made = out_len - s.avail_out;
        return r == BZ_STREAM_END;
    }
};
#endif

std::unique_ptr<Encoder> makeEncoder(Compression kind) {
    switch (kind) {
#ifdef SPC_HAVE_ZLIB
        case Compression::gzip: return std::make_unique<GzipEncoder>();
#endif
#ifdef SPC_HAVE_LZMA
        case Compression::xz: return std::make_unique<XzEncoder>();
#endif
#ifdef SPC_HAVE_BZIP2
        case Compression::bzip2: return std::make_unique<Bzip2Encoder>();
#endif
        default: return nullptr;
    }
}

struct Sink {
    int fd;
    std::unique_ptr<Encoder> encoder;
    std::vector<char> out = std::vector<char>(size_t{1} << 18);
};

bool writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Encodes the input (all of it, or at the finish until the end is out).
bool pump(Sink& sink, const char* in, size_t in_len, bool finish) {
    for (;;) {
        size_t used = 0, made = 0;
        const bool done = sink.encoder->step(in, in_len, used, sink.out.data(), sink.out.size(), made, finish);
        if (made > 0 && !writeAll(sink.fd, sink.out.data(), made)) return false;
        in += used;
        in_len -= used;
        if (finish ? done : in_len == 0 && made < sink.out.size()) return true;
        if (!finish && used == 0 && made == 0) {
            errno = EIO;  // the encoder refuses: nothing more can go out
            return false;
        }
    }
}

ssize_t writeCompressed(void* cookie, const char* data, size_t size) {
    return pump(*static_cast<Sink*>(cookie), data, size, false) ? static_cast<ssize_t>(size) : -1;
}

int closeCompressed(void* cookie) {
    std::unique_ptr<Sink> sink(static_cast<Sink*>(cookie));
    const bool ok = pump(*sink, nullptr, 0, true);
    const int saved = errno;
    const bool closed = ::close(sink->fd) == 0;
    if (!ok) errno = saved;
    return ok && closed ? 0 : EOF;
}

}  // namespace

std::FILE* openCompressedOutput(const std::string& path, Compression kind, std::string& why) {
    auto sink = std::make_unique<Sink>();
    sink->encoder = makeEncoder(kind);
    if (!sink->encoder) {
        why = std::string("this build cannot write ") + compressionName(kind) + " data";
        return nullptr;
    }
    sink->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (sink->fd < 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    cookie_io_functions_t io{nullptr, writeCompressed, nullptr, closeCompressed};
    std::FILE* file = fopencookie(sink.get(), "w", io);
    if (file == nullptr) {
        why = std::strerror(errno);
        ::close(sink->fd);
        return nullptr;
    }
    sink.release();
    return file;
}
