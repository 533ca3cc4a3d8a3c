// Writing a file compressed with gzip, xz or bzip2 through a stdio stream,
// so that code writing text to a FILE* writes compressed data unchanged.
#pragma once

#include <cstdio>
#include <string>

#include "compressed_input.h"

// Creates (or truncates) the file and returns a stream whose text is
// written to it compressed as `kind` (gzip, xz or bzip2); fclose finishes
// the compressed data and reports a failed write as EOF with errno set.
// nullptr with `why` set when the file cannot be created or this build
// cannot write the kind.
std::FILE* openCompressedOutput(const std::string& path, Compression kind, std::string& why);
