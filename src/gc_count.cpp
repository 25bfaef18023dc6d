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

#if defined(__x86_64__)
static_assert(x86FeaturesOf({.leaf1Ecx = bit_OSXSAVE | bit_POPCNT,
                             .leaf7Ebx = bit_AVX2 | bit_AVX512F | bit_AVX512BW,
                             .xcr0 = 0xE6}) == X86Features{.avx2 = true, .avx512bw = true},
              "the bits named in x86_features.hpp are cpuid.h's");

// Asked directly, with no compiler runtime, so any target's linker takes it.
X86Features cpuFeatures() {
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

constexpr std::array kernels{
    GcKernel{"portable", Needs::baseline, countGcPortable},
    GcKernel{"sse2", Needs::baseline, countGcSse2},
    GcKernel{"avx2", Needs::avx2, countGcAvx2},
    GcKernel{"avx512bw", Needs::avx512bw, countGcAvx512},
};
#else
X86Features cpuFeatures() { return {}; }

#if defined(__aarch64__)
constexpr std::array kernels{
    GcKernel{"portable", Needs::baseline, countGcPortable},
    GcKernel{"neon", Needs::baseline, countGcNeon},
};
#else
constexpr std::array kernels{
    GcKernel{"portable", Needs::baseline, countGcPortable},
    GcKernel{"swar", Needs::baseline, countGcSwar},
};
#endif
#endif

bool meets(const X86Features& offered, Needs needs) {
    switch (needs) {
        case Needs::baseline:
            return true;
        case Needs::avx2:
            return offered.avx2;
        case Needs::avx512bw:
            return offered.avx512bw;
    }
    return false;  // not reached: every need is named above
}

const X86Features cpu = cpuFeatures();

// Chosen before main starts, so that no thread waits on a guard for it.
const GcKernel& chosen = kernelFor(cpu);

}  // namespace

std::span<const GcKernel> gcKernels() { return kernels; }

const GcKernel& kernelFor(const X86Features& offered) {
    const GcKernel* fastest = &kernels.front();
    for (const GcKernel& kernel : kernels) {
        if (meets(offered, kernel.needs)) fastest = &kernel;
    }
    return *fastest;
}

bool runsHere(const GcKernel& kernel) { return meets(cpu, kernel.needs); }

const GcKernel& kernelInUse() { return chosen; }

std::size_t countGc(std::span<const unsigned char> bytes) { return chosen.count(bytes); }

}  // namespace gcwindow
