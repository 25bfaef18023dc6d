#pragma once

#include <cstddef>
#include <span>

namespace gcwindow {

// G, C, g and c are the only bytes that become 'C' (0x43) once the case bit
// (0x20) and the bit that tells G from C (0x04) are cleared.
constexpr bool isGc(unsigned char base) { return (base & 0xDB) == 0x43; }

// How many bytes of `bytes` are G, C, g or c.
std::size_t countGc(std::span<const unsigned char> bytes);

// The plain loop: the reference that every faster version must match.
std::size_t countGcPortable(std::span<const unsigned char> bytes);

}  // namespace gcwindow
