#include "instruction_sets.h"

namespace {

InstructionSet fastestSupported() {
    for (InstructionSet set : {InstructionSet::avx512, InstructionSet::avx2, InstructionSet::sse2}) {
        if (instructionSetSupported(set)) return set;
    }
    return InstructionSet::portable;
}

InstructionSet current_set = fastestSupported();

}  // namespace

const std::vector<InstructionSet>& allInstructionSets() {
    static const std::vector<InstructionSet> all = {InstructionSet::portable, InstructionSet::sse2,
                                                    InstructionSet::avx2, InstructionSet::avx512};
    return all;
}

bool instructionSetSupported(InstructionSet set) {
    switch (set) {
        case InstructionSet::portable: return true;
#ifdef SPC_X86
        case InstructionSet::sse2: return __builtin_cpu_supports("sse2");
        case InstructionSet::avx2: return __builtin_cpu_supports("avx2");
        case InstructionSet::avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl");
#endif
        default: return false;
    }
}

void setInstructionSet(InstructionSet set) { current_set = set; }

InstructionSet currentInstructionSet() { return current_set; }

const char* instructionSetName(InstructionSet set) {
    switch (set) {
        case InstructionSet::sse2: return "sse2";
        case InstructionSet::avx2: return "avx2";
        case InstructionSet::avx512: return "avx512";
        default: return "portable";
    }
}
