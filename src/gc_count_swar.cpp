#include "gc_kernels.hpp"

// x86-64 and AArch64 count with their vector kernels instead.
#if !defined(__x86_64__) && !defined(__aarch64__)

#include <algorithm>
#include <cstring>

#include "gc_count.hpp"

namespace gcwindow {

namespace {

// 64 bits on 64-bit targets, 32 on the others.
using Word = std::size_t;
constexpr Word allOnes = ~Word{0};
constexpr Word byteOnes = allOnes / 0xFF;  // 0x01 in every byte
constexpr Word lowSeven = byteOnes * 0x7F;

// A step adds at most 1 to every byte of each of the two running counts, so
// emptying them into the total after 255 steps keeps every byte <= 255.
constexpr std::size_t stepsPerFlush = 255;

// 1 in each byte of `word` that is G, C, g or c, 0 in the others, whatever
// the byte order.
constexpr Word gcBytes(Word word) {
    const Word notGc = (word & byteOnes * 0xDB) ^ byteOnes * 0x43;  // 0 only in the GC bytes
    // The top bit of every byte but a 0 ends up set: it was set, or its low
    // seven bits carry into it. No carry crosses into the next byte.
    const Word nonZero = ((notGc & lowSeven) + lowSeven) | notGc;
    return (~nonZero >> 7) & byteOnes;
}

}  // namespace

// Two words a step, into two counts, so that neither addition waits on the other.
std::size_t countGcSwar(std::span<const unsigned char> bytes) {
    const unsigned char* next = bytes.data();
    const unsigned char* const end = next + bytes.size();
    constexpr std::size_t stepBytes = 2 * sizeof(Word);
    std::size_t total = 0;
    while (static_cast<std::size_t>(end - next) >= stepBytes) {
        const std::size_t steps = std::min<std::size_t>((end - next) / stepBytes, stepsPerFlush);
        Word first = 0;
        Word second = 0;
        for (std::size_t i = 0; i < steps; ++i, next += stepBytes) {
            Word word = 0;
            std::memcpy(&word, next, sizeof word);
            first += gcBytes(word);
            std::memcpy(&word, next + sizeof word, sizeof word);
            second += gcBytes(word);
        }
        // Bytes added in pairs into 16-bit lanes, which then hold at most
        // 4 x 255, and the lanes into the top one by a multiplication.
        constexpr Word evenBytes = allOnes / 0xFFFF * 0xFF;
        const Word pairs =
            (first & evenBytes) + ((first >> 8) & evenBytes) + (second & evenBytes) + ((second >> 8) & evenBytes);
        total += (pairs * (allOnes / 0xFFFF)) >> (8 * sizeof(Word) - 16);
    }
    return total + countGcPortable({next, end});
}

}  // namespace gcwindow

#endif
