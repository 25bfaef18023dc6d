#pragma once

// The faster versions of the GC count, each built where its target is, and
// chosen among by gc_count.cpp. Each counts as countGcPortable does.

#include <cstddef>
#include <span>

namespace gcwindow {

#if defined(__x86_64__)
// SSE2 is part of every x86-64 CPU; call the AVX ones only where the CPU has them.
std::size_t countGcSse2(std::span<const unsigned char> bytes);
std::size_t countGcAvx2(std::span<const unsigned char> bytes);
std::size_t countGcAvx512(std::span<const unsigned char> bytes);
#elif defined(__aarch64__)
// NEON is part of every AArch64 CPU.
std::size_t countGcNeon(std::span<const unsigned char> bytes);
#else
// A machine word at a time, with nothing but integer instructions, for the
// targets with no vector version here (POWER, s390x, RISC-V, 32-bit ARM and x86).
std::size_t countGcSwar(std::span<const unsigned char> bytes);
#endif

}  // namespace gcwindow
