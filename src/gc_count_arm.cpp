#include "gc_kernels.hpp"

// The vector kernel needs AArch64, on Linux and macOS alike; elsewhere this
// file is empty.
#if defined(__aarch64__)

#include <arm_neon.h>

#include <algorithm>

#include "gc_count.hpp"

namespace gcwindow {

namespace {

constexpr std::size_t vectorBytes = 16;
constexpr std::size_t stepBytes = 4 * vectorBytes;

// A step adds at most 1 to every 8-bit lane of each of the four running
// counts, so emptying them into the total after 255 steps keeps every lane <= 255.
constexpr std::size_t stepsPerFlush = 255;

}  // namespace

// Four vectors a step, each into a count of its own: with one count, each
// subtraction would wait on the one before.
std::size_t countGcNeon(std::span<const unsigned char> bytes) {
    const unsigned char* next = bytes.data();
    const unsigned char* const end = next + bytes.size();
    const uint8x16_t mask = vdupq_n_u8(0xDB);
    const uint8x16_t gc = vdupq_n_u8(0x43);
    // All ones, -1, in each lane that holds a GC byte: subtracting it counts one.
    const auto matches = [&](const unsigned char* at) { return vceqq_u8(vandq_u8(vld1q_u8(at), mask), gc); };
    std::size_t total = 0;
    while (static_cast<std::size_t>(end - next) >= stepBytes) {
        const std::size_t steps = std::min<std::size_t>((end - next) / stepBytes, stepsPerFlush);
        uint8x16_t first = vdupq_n_u8(0);
        uint8x16_t second = first;
        uint8x16_t third = first;
        uint8x16_t fourth = first;
        for (std::size_t i = 0; i < steps; ++i, next += stepBytes) {
            first = vsubq_u8(first, matches(next));
            second = vsubq_u8(second, matches(next + vectorBytes));
            third = vsubq_u8(third, matches(next + 2 * vectorBytes));
            fourth = vsubq_u8(fourth, matches(next + 3 * vectorBytes));
        }
        // Added pairwise into 16-bit lanes, which then hold at most 4 x 510.
        total += vaddlvq_u16(vpadalq_u8(vpadalq_u8(vpadalq_u8(vpaddlq_u8(first), second), third), fourth));
    }
    return total + countGcPortable({next, end});
}

}  // namespace gcwindow

#endif
