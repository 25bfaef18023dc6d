#include "gc_count.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <array>

#include "gc_kernels.hpp"
#include "x86_features.hpp"

namespace gcwindow {

std::size_t countGcPortable(std::span<const unsigned char> bytes) {
    std::size_t count = 0;
    for (const unsigned char base : bytes) count += isGc(base) ? 1 : 0;
    return count;
}

namespace {

bool always() { return true; }

#if defined(__x86_64__)
static_assert(x86FeaturesOf({.leaf1Ecx = bit_OSXSAVE | bit_POPCNT,
                             .leaf7Ebx = bit_AVX2 | bit_AVX512F | bit_AVX512BW,
                             .xcr0 = 0xE6}) == X86Features{.avx2 = true, .avx512bw = true},
              "the bits named in x86_features.hpp are cpuid.h's");

// Asked directly, with no compiler runtime, so any target's linker takes it.
X86Features x86Features() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    X86Words words;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return {};
    words.leaf1Ecx = ecx;
    if ((ecx & bit_OSXSAVE) != 0) {
        unsigned xcr0High = 0;
        __asm__("xgetbv" : "=a"(words.xcr0), "=d"(xcr0High) : "c"(0));
    }
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0) words.leaf7Ebx = ebx;
    return x86FeaturesOf(words);
}

const X86Features cpu = x86Features();

bool hasAvx2() { return cpu.avx2; }
bool hasAvx512() { return cpu.avx512bw; }

constexpr std::array kernels{
    GcKernel{"portable", always, countGcPortable},
    GcKernel{"sse2", always, countGcSse2},
    GcKernel{"avx2", hasAvx2, countGcAvx2},
    GcKernel{"avx512bw", hasAvx512, countGcAvx512},
};
#elif defined(__aarch64__)
constexpr std::array kernels{
    GcKernel{"portable", always, countGcPortable},
    GcKernel{"neon", always, countGcNeon},
};
#else
constexpr std::array kernels{
    GcKernel{"portable", always, countGcPortable},
    GcKernel{"swar", always, countGcSwar},
};
#endif

GcCount fastestHere() {
    GcCount fastest = kernels.front().count;
    for (const GcKernel& kernel : kernels) {
        if (kernel.runsHere()) fastest = kernel.count;
    }
    return fastest;
}

// Chosen before main starts, so that no thread waits on a guard for it.
const GcCount chosen = fastestHere();

}  // namespace

std::span<const GcKernel> gcKernels() { return kernels; }

std::size_t countGc(std::span<const unsigned char> bytes) { return chosen(bytes); }

}  // namespace gcwindow
