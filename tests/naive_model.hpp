#pragma once

// What the tool must print, worked out its own way: one byte per window
// position, exact counts, and the rounding done with integers alone.

#include <cstdint>
#include <string>
#include <string_view>

namespace naive {

inline bool isGc(char base) { return base == 'G' || base == 'C' || base == 'g' || base == 'c'; }

// The GC positions of a window of `window` (above 0): each takes the next
// byte while there are bytes, and every one after the end repeats the last
// (none, for an empty input), counted together rather than one by one.
inline std::int64_t gcPositions(std::string_view input, std::int64_t window) {
    std::int64_t gc = 0;
    std::int64_t position = 0;
    for (; position < window && position < static_cast<std::int64_t>(input.size()); ++position) {
        gc += isGc(input[position]) ? 1 : 0;
    }
    if (position < window && !input.empty() && isGc(input.back())) gc += window - position;
    return gc;
}

// A count as a float holds it: mantissa * 2^exponent, the mantissa at most 2^24.
struct Float {
    std::uint64_t mantissa;
    int exponent;
};

// `n` rounded to the nearest number with 24 significant bits (a float's),
// ties to the even one.
inline Float toFloat(std::uint64_t n) {
    int dropped = 0;
    while ((n >> dropped) >= (std::uint64_t{1} << 24)) ++dropped;
    if (dropped == 0) return {n, 0};
    std::uint64_t kept = n >> dropped;
    const std::uint64_t rest = n & ((std::uint64_t{1} << dropped) - 1);
    const std::uint64_t half = std::uint64_t{1} << (dropped - 1);
    if (rest > half || (rest == half && kept % 2 == 1)) ++kept;
    return {kept, dropped};
}

// The line for `gc` of `window` positions (0 <= gc <= window < 2^63): both
// counts rounded to floats, their quotient rounded to a float, that printed
// with six decimals, ties to even.
inline std::string shareLine(std::int64_t gc, std::int64_t window) {
    if (window == 0) return "-nan\n";      // as x86-64 prints 0/0
    if (window < 0) return "-0.000000\n";  // zero GC over a negative count
    const Float top = toFloat(static_cast<std::uint64_t>(gc));
    const Float bottom = toFloat(static_cast<std::uint64_t>(window));
    // The quotient of the mantissas as q / 2^scale, q with 24 significant
    // bits: both are at most 2^24, so top << scale < bottom << 24 <= 2^48.
    std::uint64_t q = 0;
    int scale = 0;
    if (top.mantissa > 0) {
        while ((top.mantissa << scale) < (bottom.mantissa << 23)) ++scale;
        q = (top.mantissa << scale) / bottom.mantissa;
        const std::uint64_t rest = (top.mantissa << scale) % bottom.mantissa;
        if (2 * rest > bottom.mantissa || (2 * rest == bottom.mantissa && q % 2 == 1)) ++q;
    }
    // The share is q / 2^scale once the exponents move the point; gc <= window
    // keeps it at most 1.
    scale += bottom.exponent - top.exponent;
    // Millionths: q * 10^6 / 2^scale (q * 10^6 below 2^45).
    const std::uint64_t scaled = q * 1000000;
    std::uint64_t millionths = scale < 64 ? scaled >> scale : 0;
    if (scale > 0 && scale < 64) {
        const std::uint64_t rest = scaled & ((std::uint64_t{1} << scale) - 1);
        const std::uint64_t half = std::uint64_t{1} << (scale - 1);
        if (rest > half || (rest == half && millionths % 2 == 1)) ++millionths;
    }
    const std::string fraction = std::to_string(1000000 + millionths % 1000000).substr(1);
    return std::to_string(millionths / 1000000) + "." + fraction + "\n";
}

inline std::string resultLine(std::string_view input, std::int64_t window) {
    return shareLine(window > 0 ? gcPositions(input, window) : 0, window);
}

}  // namespace naive
