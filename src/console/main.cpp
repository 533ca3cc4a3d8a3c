// spc_heap1: all-pairs shortest-path benchmark with a binary-heap label-setting method.
#include "spc_heap1.h"

int main() { return promptLoop(); }
