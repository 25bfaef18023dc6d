#pragma once

#include <cstddef>
#include <span>

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

struct GcKernel {
    const char* name;
    bool (*runsHere)();
    GcCount count;
};

// Every version in this build, slowest first; the first is the plain loop
// that all the others must match.
std::span<const GcKernel> gcKernels();

}  // namespace gcwindow
