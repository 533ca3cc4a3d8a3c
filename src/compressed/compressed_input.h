// Reading a file that may be compressed with gzip, xz or bzip2, told by its
// first bytes rather than its name, as a stream of its text.
#pragma once

#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

enum class Compression { none, gzip, xz, bzip2, other };

// The kind of data that starts with these bytes (at least six are looked at;
// fewer is plain text). `other` is a compressed or archive format this
// program does not read (zstd, lz4, zip, 7z).
Compression compressionOf(const unsigned char* start, size_t size);
// The kind a file's name suggests by its last extension: .gz, .xz, .bz2
// (`other` for .zst, .lz4, .zip, .7z, .Z; none for any other).
Compression compressionNamed(const std::string& name);
// "gzip", "xz", "bzip2", "plain text", "an unreadable format".
const char* compressionName(Compression kind);
// Whether this build can read the kind (plain text always).
bool compressionBuilt(Compression kind);
// The kinds this build reads, for --help: "plain text, gzip, xz, bzip2", or
// with what it lacks: "plain text (this build lacks zlib for gzip, ...)".
std::string compressionsBuiltText();
// The library a kind needs: "zlib", "liblzma", "libbz2".
const char* compressionLibrary(Compression kind);

// The text of a file descriptor opened for reading: plain text as it is, or
// decompressed on the fly when it is gzip (any number of members), xz (any number of streams) or
// bzip2 (any number of streams). A damaged or cut stream ends the text
// early: error() then says what and where. The descriptor stays the
// caller's.
class DecompressingInput : public std::streambuf {
public:
    // `start` are the first bytes already read from the descriptor (those
    // compressionOf looked at).
    DecompressingInput(int fd, Compression kind, std::vector<unsigned char> start);
    ~DecompressingInput() override;
    DecompressingInput(const DecompressingInput&) = delete;
    DecompressingInput& operator=(const DecompressingInput&) = delete;

    // Empty, or what went wrong: damage or a cut, with the byte of the file
    // and the bytes and lines of text reached.
    const std::string& error() const { return error_; }

    struct Decoder;  // one per kind

protected:
    int_type underflow() override;

private:
    int_type passPlainText();
    bool fill();     // more compressed bytes into in_; false at the end of the file
    void fail(const std::string& what);
    int fd_;
    Compression kind_;
    std::unique_ptr<Decoder> decoder_;
    std::vector<unsigned char> in_;
    size_t in_pos_ = 0;   // next unread byte of in_
    size_t in_len_ = 0;
    uint64_t file_offset_ = 0;  // of in_[0] in the file
    bool file_ended_ = false;
    std::vector<char> out_;
    uint64_t text_bytes_ = 0;  // handed out before out_'s current contents
    int64_t text_lines_ = 1;
    std::string error_;
    bool ended_ = false;
    bool between_members_ = false;  // a member ended: the next must start one, or the file end
};
