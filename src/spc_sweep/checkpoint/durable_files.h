// Files that outlive a crash and never show half of themselves: written
// beside their place and renamed into it, synced with their directory, made
// with the modes the user's umask gives, and trusted only when the user (or
// root) owns them and nobody else may write them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// The directory a path lies in ("." for a bare name).
std::string directoryOf(const std::string& path);
// The path's last component.
std::string baseNameOf(const std::string& path);

// Reads the process's umask; call once at start, before any thread runs.
void noteUmask();
// The mode of a new file: 0666 less the umask.
mode_t newFileMode();

// Writes all of text to fd, retrying short writes. Empty string or the error.
std::string writeAll(int fd, const std::string& text);

// Makes a file's directory entry durable: syncs the directory it is in.
std::string syncDirectoryOf(const std::string& path);

// An advisory lock on the whole file, released when the file is closed.
// Returns 0, or the errno of the attempt (EAGAIN or EACCES: held elsewhere).
int lockWhole(int fd);

// Whether an open file may be trusted: its owner is this user or root, and
// nobody else may write it. Empty string or why not.
std::string checkTrusted(int fd);

// What a temporary file beside `path` is named: PATH.spc_sweep-tmp-XXXXXX.
constexpr const char* kTemporaryMark = ".spc_sweep-tmp-";
constexpr size_t kTemporarySuffix = 21;  // the mark and its six letters

// Writes a file safely: into a temporary beside it (locked while it is
// written, so that no other run takes it for a leftover), synced, renamed
// into place, the directory synced. No reader ever sees half of it.
// `write` fills the file and returns false when a write failed or it gave
// up (a signal); the temporary is then removed.
std::string writeFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write);
std::string writeFileSafely(const std::string& path, const std::string& text);

// Removes the temporaries beside `path` that an earlier run left (killed
// while it wrote them): those of this user that no run holds.
void removeLeftoverTemporaries(const std::string& path);

// Appends the text to the file with one write, making the file when absent.
// Empty string or the error.
std::string appendToFile(const std::string& path, const std::string& text);

// The file's size, or -1 when it does not exist (or cannot be read).
int64_t fileSize(const std::string& path);

// Whether the bytes from `offset` to the end of the file hold `text`.
bool fileHoldsAfter(const std::string& path, uint64_t offset, const std::string& text);

// A 64-bit FNV-1a hash, added to byte by byte.
struct Fnv64 {
    uint64_t hash = 14695981039346656037u;
    void add(const void* data, size_t size);
    // A value's bytes, little-endian whatever the machine.
    void addValue(uint64_t value, int bytes);
};

// The size and hash of a file's bytes; false when it cannot be read.
bool hashFile(const std::string& path, uint64_t& size, uint64_t& hash);
