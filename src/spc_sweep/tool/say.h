// What spc_sweep says to its user, in one place: a line about a network on
// standard error, the figures on standard output, and how it writes seconds.
#pragma once

#include <string>

// "spc_sweep: NAME: WHY" on standard error, after what standard output holds.
void complain(const std::string& name, const std::string& why);

// Prints the text on standard output and flushes it; false when it could not
// be written (a full disk, a closed pipe).
bool writeOut(const std::string& text);

// Seconds as a plain decimal number with three significant digits or more:
// 0.000123, 1.230, 98037238.444.
std::string plainSeconds(double seconds);
