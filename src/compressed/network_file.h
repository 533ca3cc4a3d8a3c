// Reading a network file as users download them: plain text, or compressed
// with gzip, xz or bzip2, told by the file's first bytes.
#pragma once

#include <functional>
#include <string>

#include "network/network.h"

// Loads the network in the file with the loader's rules and messages; a
// damaged or cut compressed file is refused with the byte of the file and
// the line of text it reached. A name that says compressed (.gz, .xz, .bz2,
// .zst, ...) on data that is not, or data compressed in a format this build
// does not read, is refused before anything is read. keep_going as for
// readNetwork. Returns an empty string or why the network was not loaded.
std::string readNetworkFile(const std::string& path, Network& network, const std::function<bool()>& keep_going = {});
