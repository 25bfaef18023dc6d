#pragma once

#if defined(__x86_64__)

#include <cstddef>
#include <span>

namespace gcwindow {

// Vector versions of the GC count. Call the AVX ones only where the CPU has
// the instructions; SSE2 is part of every x86-64 CPU.
std::size_t countGcSse2(std::span<const unsigned char> bytes);
std::size_t countGcAvx2(std::span<const unsigned char> bytes);
std::size_t countGcAvx512(std::span<const unsigned char> bytes);

}  // namespace gcwindow

#endif
