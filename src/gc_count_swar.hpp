#pragma once

#if !defined(__x86_64__) && !defined(__aarch64__)

#include <cstddef>
#include <span>

namespace gcwindow {

// The GC count a machine word at a time, for the targets with no vector
// kernel here (POWER, s390x, RISC-V, 32-bit ARM and x86): it needs nothing
// but the integer instructions that all of them have.
std::size_t countGcSwar(std::span<const unsigned char> bytes);

}  // namespace gcwindow

#endif
