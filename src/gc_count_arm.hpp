#pragma once

#if defined(__aarch64__)

#include <cstddef>
#include <span>

namespace gcwindow {

// The vector version of the GC count; NEON is part of every AArch64 CPU, so
// it runs everywhere this is built.
std::size_t countGcNeon(std::span<const unsigned char> bytes);

}  // namespace gcwindow

#endif
