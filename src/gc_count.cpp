#include "gc_count.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <array>

#include "gc_kernels.hpp"

namespace gcwindow {

std::size_t countGcPortable(std::span<const unsigned char> bytes) {
    std::size_t count = 0;
    for (const unsigned char base : bytes) count += isGc(base) ? 1 : 0;
    return count;
}

namespace {

bool always() { return true; }

#if defined(__x86_64__)
// What the CPU has and the operating system saves on a context switch: an
// instruction on registers that the system does not save faults, so each
// feature needs its CPUID bits and, in XCR0, the state of its registers.
// Asked directly, with no compiler runtime, so any target's linker takes it.
struct X86Features {
    bool avx2 = false;
    bool avx512bw = false;
};

X86Features x86Features() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_OSXSAVE) == 0) return {};
    const bool popcnt = (ecx & bit_POPCNT) != 0;
    unsigned xcr0 = 0;
    unsigned xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    constexpr unsigned vectorState = 0x6;  // XMM and YMM registers
    // macOS sets these only once a thread has used AVX-512, so there AVX2 counts.
    constexpr unsigned avx512State = 0xE0;  // mask registers and all of ZMM
    if ((xcr0 & vectorState) != vectorState || __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return {};
    return {.avx2 = (ebx & bit_AVX2) != 0,
            .avx512bw =
                (xcr0 & avx512State) == avx512State && popcnt && (ebx & bit_AVX512F) != 0 && (ebx & bit_AVX512BW) != 0};
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
