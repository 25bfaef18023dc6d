#pragma once

#include <cstddef>
#include <span>

#include "x86_features.hpp"

namespace gcwindow {

// G, C, g and c are the only bytes that become 'C' (0x43) once the case bit
// (0x20) and the bit that tells G from C (0x04) are cleared.
constexpr bool isGc(unsigned char base) { return (base & 0xDB) == 0x43; }

// How many bytes of `bytes` are G, C, g or c, counted by the fastest version
// that this CPU runs.
std::size_t countGc(std::span<const unsigned char> bytes);

// The plain loop: the reference for every faster version, and how they count
// the bytes short of a whole vector.
std::size_t countGcPortable(std::span<const unsigned char> bytes);

using GcCount = std::size_t (*)(std::span<const unsigned char>);

// What a version needs of the CPU beyond its target's baseline (SSE2 on
// x86-64, NEON on AArch64); only x86-64 CPUs differ in what they offer.
enum class Needs { baseline, avx2, avx512bw };

struct GcKernel {
    const char* name;
    Needs needs;
    GcCount count;
};

// Every version in this build, slowest first; the first is the plain loop
// that all the others must match.
std::span<const GcKernel> gcKernels();

// The version for a CPU that offers `offered`: the last, and so the fastest, of
// gcKernels() whose needs it meets.
const GcKernel& kernelFor(const X86Features& offered);

// Whether this CPU runs `kernel`, and the version that countGc uses here,
// chosen once before main starts.
bool runsHere(const GcKernel& kernel);
const GcKernel& kernelInUse();

}  // namespace gcwindow
