#pragma once

// Which vector kernels an x86-64 CPU may run, decided from the words that
// CPUID and XGETBV report, apart from asking them: so a test can hand it
// CPUs that the machine it runs on is not.

namespace gcwindow {

struct X86Words {
    unsigned leaf1Ecx = 0;  // CPUID leaf 1, ECX
    unsigned leaf7Ebx = 0;  // CPUID leaf 7, subleaf 0, EBX: 0 where the CPU has no leaf 7
    unsigned xcr0 = 0;      // XCR0's low half, the register state the system saves: 0 without OSXSAVE
};

struct X86Features {
    bool avx2 = false;
    bool avx512bw = false;
    bool operator==(const X86Features&) const = default;
};

// An instruction on registers that the system does not save on a context
// switch faults, so each feature needs its CPUID bits and, in XCR0, the
// state of its registers.
constexpr X86Features x86FeaturesOf(const X86Words& words) {
    constexpr unsigned osxsave = 1U << 27;
    constexpr unsigned popcnt = 1U << 23;
    constexpr unsigned avx2 = 1U << 5;
    constexpr unsigned avx512f = 1U << 16;
    constexpr unsigned avx512bw = 1U << 30;
    constexpr unsigned vectorState = 0x6;  // XMM and YMM registers
    // macOS sets these only once a thread has used AVX-512, so there AVX2 counts.
    constexpr unsigned avx512State = 0xE0;  // mask registers and all of ZMM
    const auto has = [](unsigned word, unsigned bits) { return (word & bits) == bits; };
    if (!has(words.leaf1Ecx, osxsave) || !has(words.xcr0, vectorState)) return {};
    return {.avx2 = has(words.leaf7Ebx, avx2),
            .avx512bw =
                has(words.xcr0, avx512State) && has(words.leaf1Ecx, popcnt) && has(words.leaf7Ebx, avx512f | avx512bw)};
}

}  // namespace gcwindow
