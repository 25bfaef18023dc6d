#include "gc_count.hpp"

#include <array>

#include "gc_count_x86.hpp"

namespace gcwindow {

std::size_t countGcPortable(std::span<const unsigned char> bytes) {
    std::size_t count = 0;
    for (const unsigned char base : bytes) count += isGc(base) ? 1 : 0;
    return count;
}

namespace {

bool always() { return true; }

#if defined(__x86_64__)
bool hasAvx2() { return __builtin_cpu_supports("avx2"); }
bool hasAvx512() { return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("popcnt"); }

constexpr std::array kernels{
    GcKernel{"portable", always, countGcPortable},
    GcKernel{"sse2", always, countGcSse2},
    GcKernel{"avx2", hasAvx2, countGcAvx2},
    GcKernel{"avx512bw", hasAvx512, countGcAvx512},
};
#else
constexpr std::array kernels{GcKernel{"portable", always, countGcPortable}};
#endif

GcCount fastestHere() {
    GcCount fastest = kernels.front().count;
    for (const GcKernel& kernel : kernels) {
        if (kernel.runsHere()) fastest = kernel.count;
    }
    return fastest;
}

}  // namespace

std::span<const GcKernel> gcKernels() { return kernels; }

std::size_t countGc(std::span<const unsigned char> bytes) {
    static const GcCount chosen = fastestHere();
    return chosen(bytes);
}

}  // namespace gcwindow
