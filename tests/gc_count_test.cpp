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
    if (!GetParam().runsHere()) GTEST_SKIP() << "this CPU lacks " << GetParam().name;
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

// A version runs where Linux says the CPU has, and the system saves, what it
// needs: one chosen wrongly would fault, one missed would be slow.
TEST(KernelChoice, FollowsWhatLinuxSaysTheCpuCan) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string flags;
    while (std::getline(cpuinfo, flags) && !flags.starts_with("flags")) {
    }
    if (!flags.starts_with("flags")) GTEST_SKIP() << "no CPU flags in /proc/cpuinfo";
    const auto has = [&](const std::string& flag) { return (flags + " ").find(" " + flag + " ") != std::string::npos; };
    const std::vector<std::pair<std::string, bool>> cpuCan{
        {"avx2", has("avx2")}, {"avx512bw", has("avx512f") && has("avx512bw") && has("popcnt")}};
    for (const GcKernel& kernel : gcwindow::gcKernels()) {
        for (const auto& [name, can] : cpuCan) {
            if (name == kernel.name) {
                EXPECT_EQ(kernel.runsHere(), can) << name;
            }
        }
    }
}

// The choice for CPUs this machine is not, from their CPUID and XCR0 words.
TEST(KernelChoice, FollowsTheCpuidAndXcr0Words) {
    using gcwindow::X86Features;
    constexpr unsigned osxsave = 1U << 27, popcnt = 1U << 23;
    constexpr unsigned avx2 = 1U << 5, avx512f = 1U << 16, avx512bw = 1U << 30;
    const struct {
        const char* cpu;
        gcwindow::X86Words words;
        X86Features features;
    } cpus[] = {
        {"SSE2 alone", {.leaf1Ecx = popcnt}, {}},
        {"AVX2, system saves no YMM", {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2, .xcr0 = 0x3}, {}},
        {"AVX2 bits, no OSXSAVE", {.leaf1Ecx = popcnt, .leaf7Ebx = avx2, .xcr0 = 0xE7}, {}},
        {"AVX2", {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2, .xcr0 = 0x7}, {.avx2 = true}},
        {"AVX-512F without BW",
         {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512f, .xcr0 = 0xE7},
         {.avx2 = true}},
        {"AVX-512BW without F",
         {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512bw, .xcr0 = 0xE7},
         {.avx2 = true}},
        {"AVX-512, ZMM not yet saved (macOS)",
         {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512f | avx512bw, .xcr0 = 0x7},
         {.avx2 = true}},
        {"AVX-512, upper 16 ZMM not saved",
         {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512f | avx512bw, .xcr0 = 0x67},
         {.avx2 = true}},
        {"AVX-512 without POPCNT",
         {.leaf1Ecx = osxsave, .leaf7Ebx = avx2 | avx512f | avx512bw, .xcr0 = 0xE7},
         {.avx2 = true}},
        {"AVX-512BW",
         {.leaf1Ecx = osxsave | popcnt, .leaf7Ebx = avx2 | avx512f | avx512bw, .xcr0 = 0xE7},
         {.avx2 = true, .avx512bw = true}},
    };
    for (const auto& [cpu, words, features] : cpus) {
        const X86Features chosen = gcwindow::x86FeaturesOf(words);
        EXPECT_EQ(chosen.avx2, features.avx2) << cpu;
        EXPECT_EQ(chosen.avx512bw, features.avx512bw) << cpu;
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, Kernel,
                         testing::ValuesIn(gcwindow::gcKernels().begin(), gcwindow::gcKernels().end()),
                         [](const testing::TestParamInfo<GcKernel>& info) { return std::string(info.param.name); });

}  // namespace
