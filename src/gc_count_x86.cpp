#include "gc_kernels.hpp"

// The vector kernels need x86-64 (SSE2 is part of its baseline, and the
// sums are taken as 64-bit lanes); elsewhere this file is empty.
#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>

#include "gc_count.hpp"

namespace gcwindow {

namespace {

// Each vector adds at most 1 to every 8-bit lane of the running counts, so
// emptying them into the total after 255 vectors keeps every lane <= 255.
constexpr std::size_t vectorsPerFlush = 255;

}  // namespace

std::size_t countGcSse2(std::span<const unsigned char> bytes) {
    const unsigned char* next = bytes.data();
    const unsigned char* const end = next + bytes.size();
    const __m128i mask = _mm_set1_epi8(static_cast<char>(0xDB));
    const __m128i gc = _mm_set1_epi8(0x43);
    std::size_t total = 0;
    while (end - next >= 16) {
        const std::size_t vectors = std::min<std::size_t>((end - next) / 16, vectorsPerFlush);
        __m128i counts = _mm_setzero_si128();
        for (std::size_t i = 0; i < vectors; ++i, next += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(next));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(_mm_and_si128(block, mask), gc));
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        total += static_cast<std::size_t>(_mm_cvtsi128_si64(sums) + _mm_extract_epi16(sums, 4));
    }
    return total + countGcPortable({next, end});
}

__attribute__((target("avx2"))) std::size_t countGcAvx2(std::span<const unsigned char> bytes) {
    const unsigned char* next = bytes.data();
    const unsigned char* const end = next + bytes.size();
    const __m256i mask = _mm256_set1_epi8(static_cast<char>(0xDB));
    const __m256i gc = _mm256_set1_epi8(0x43);
    std::size_t total = 0;
    while (end - next >= 32) {
        const std::size_t vectors = std::min<std::size_t>((end - next) / 32, vectorsPerFlush);
        __m256i counts = _mm256_setzero_si256();
        for (std::size_t i = 0; i < vectors; ++i, next += 32) {
            const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(next));
            counts = _mm256_sub_epi8(counts, _mm256_cmpeq_epi8(_mm256_and_si256(block, mask), gc));
        }
        const __m256i sums = _mm256_sad_epu8(counts, _mm256_setzero_si256());
        total += static_cast<std::size_t>(_mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
                                          _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3));
    }
    return total + countGcPortable({next, end});
}

// AVX-512 compares into a 64-bit mask, one bit a byte, so a popcount counts
// a whole vector with no lanes to overflow. Two vectors a step, into two
// totals: with one, each step would wait on the last one's add.
__attribute__((target("avx512bw,popcnt"))) std::size_t countGcAvx512(std::span<const unsigned char> bytes) {
    const unsigned char* next = bytes.data();
    const unsigned char* const end = next + bytes.size();
    const __m512i mask = _mm512_set1_epi8(static_cast<char>(0xDB));
    const __m512i gc = _mm512_set1_epi8(0x43);
    std::size_t even = 0;
    std::size_t odd = 0;
    for (; end - next >= 128; next += 128) {
        const __m512i first = _mm512_loadu_si512(next);
        const __m512i second = _mm512_loadu_si512(next + 64);
        even += static_cast<std::size_t>(_mm_popcnt_u64(_mm512_cmpeq_epi8_mask(_mm512_and_si512(first, mask), gc)));
        odd += static_cast<std::size_t>(_mm_popcnt_u64(_mm512_cmpeq_epi8_mask(_mm512_and_si512(second, mask), gc)));
    }
    return even + odd + countGcPortable({next, end});
}

}  // namespace gcwindow

#endif
