// The instruction sets the engine's vector code is compiled for, and the one
// chosen at run time: the fastest the processor supports, unless a test or a
// benchmark picks another.
#pragma once

#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SPC_X86 1
// The target attributes of the AVX2 and AVX-512 code, named once. The support
// test below asks for exactly these features.
#define SPC_TARGET_AVX2 __attribute__((target("avx2")))
#define SPC_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))
#endif

enum class InstructionSet { portable, sse2, avx2, avx512 };

// Every instruction set the engine knows, plainest first.
const std::vector<InstructionSet>& allInstructionSets();

bool instructionSetSupported(InstructionSet set);
void setInstructionSet(InstructionSet set);  // precondition: supported
InstructionSet currentInstructionSet();
const char* instructionSetName(InstructionSet set);
