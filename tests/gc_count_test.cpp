// Every vector version of the GC count against the plain loop.

#include "gc_count.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "x86_features.hpp"

namespace gcwindow {
void PrintTo(const GcKernel& kernel, std::ostream* os) { *os << kernel.name; }
}  // namespace gcwindow

namespace {

using gcwindow::GcKernel;

class Kernel : public testing::TestWithParam<GcKernel> {};

// Every length up to beyond one flush of the narrowest vector's 8-bit counts,
// then longer ones past the longest flush (NEON's, 255 steps of 64 bytes),
// from every start within a 64-byte line; over mixed bytes, and over bytes
// that are all GC, where a lane that overflowed would show.
TEST_P(Kernel, MatchesThePlainLoop) {
    if (!gcwindow::runsHere(GetParam())) GTEST_SKIP() << "this CPU lacks " << GetParam().name;
    const auto reference = gcwindow::gcKernels().front().count;
    std::mt19937 random(7);
    std::vector<unsigned char> mixed(64 + 20000);
    for (unsigned char& byte : mixed) byte = random() % 2 ? "GCgc"[random() % 4] : static_cast<unsigned char>(random());
    std::vector<unsigned char> allGc(mixed.size(), 'g');

    for (const std::vector<unsigned char>* bytes : {&mixed, &allGc}) {
        for (std::size_t length = 0; length <= 20000; length += length < 4200 ? 1 : 97) {
            for (std::size_t start = length % 64; start < 64; start += length < 300 ? 1 : 64) {
                const std::span<const unsigned char> slice(bytes->data() + start, length);
                ASSERT_EQ(GetParam().count(slice), reference(slice)) << "length " << length << ", start " << start;
            }
        }
    }
}

// The version in use is the fastest that Linux says the CPU has, and the
// system saves, what it needs for: one chosen wrongly would fault, one
// missed would be slow.
TEST(KernelChoice, FastestThatRunsHereIsUsed) {
    std::string fastest = gcwindow::gcKernels().back().name;
#if defined(__x86_64__)
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string flags;
    while (std::getline(cpuinfo, flags) && !flags.starts_with("flags")) {
    }
    if (!flags.starts_with("flags")) GTEST_SKIP() << "no CPU flags in /proc/cpuinfo";
    const auto has = [&](const std::string& flag) { return (flags + " ").find(" " + flag + " ") != std::string::npos; };
    fastest = has("avx512f") && has("avx512bw") && has("popcnt") ? "avx512bw" : has("avx2") ? "avx2" : "sse2";
#endif
    EXPECT_EQ(gcwindow::kernelInUse().name, fastest);
}

// The version for CPUs this machine is not, from their CPUID and XCR0
// words; where the target has no choice (NEON, or none), its one version.
TEST(KernelChoice, FollowsTheCpuidAndXcr0Words) {
    constexpr unsigned osxsave = 1U << 27, popcnt = 1U << 23;
    constexpr unsigned avx2 = 1U << 5, avx512f = 1U << 16, avx512bw = 1U << 30;
    const struct {
        const char* cpu;
        gcwindow::X86Words words;
        std::string kernel;
    } cpus[] = {
        {"SSE2 alone", {.leaf1Ecx = popcnt}, "sse2"},
        {"AVX2, system saves no YMM", {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2, .xcr0 = 0x3}, "sse2"},
        {"AVX2 bits, no OSXSAVE", {.leaf1Ecx = popcnt, .leaf7Ebx = avx2, .xcr0 = 0xE7}, "sse2"},
        {"AVX2 alone", {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2, .xcr0 = 0x7}, "avx2"},
        {"AVX-512F without BW", {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512f, .xcr0 = 0xE7}, "avx2"},
        {"AVX-512BW without F", {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512bw, .xcr0 = 0xE7}, "avx2"},
        {"AVX-512, ZMM not yet saved (macOS)",
         {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512f | avx512bw, .xcr0 = 0x7},
         "avx2"},
        {"AVX-512, upper 16 ZMM not saved",
         {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512f | avx512bw, .xcr0 = 0x67},
         "avx2"},
        {"AVX-512 without POPCNT", {.leaf1Ecx = osxsave, .leaf7Ebx = avx2 | avx512f | avx512bw, .xcr0 = 0xE7}, "avx2"},
        {"AVX-512BW", {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512f | avx512bw, .xcr0 = 0xE7}, "avx512bw"},
        {"AVX-512BW without AVX2",
         {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx512f | avx512bw, .xcr0 = 0xE7},
         "avx512bw"},
    };
    for (const auto& [cpu, words, kernel] : cpus) {
#if defined(__x86_64__)
        EXPECT_EQ(gcwindow::kernelFor(gcwindow::x86FeaturesOf(words)).name, kernel) << cpu;
#else
        EXPECT_EQ(gcwindow::kernelFor(gcwindow::x86FeaturesOf(words)).name, gcwindow::gcKernels().back().name) << cpu;
#endif
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, Kernel,
                         testing::ValuesIn(gcwindow::gcKernels().begin(), gcwindow::gcKernels().end()),
                         [](const testing::TestParamInfo<GcKernel>& info) { return std::string(info.param.name); });

}  // namespace
