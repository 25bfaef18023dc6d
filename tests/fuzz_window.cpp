// libFuzzer target: arbitrary bytes and a window through the tool's measure,
// at several block sizes, against the naive model.
//
// Input layout: byte 0 picks how the window is chosen (its low two bits) and
// how far a 32-bit number is moved up into 64 bits (the rest), byte 1 the
// block size, bytes 2-5 the 32-bit number; the rest is the sequence.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "memory_file.hpp"
#include "naive_model.hpp"

namespace {

std::int64_t chooseWindow(std::uint8_t how, std::int32_t number, std::size_t length) {
    const auto span = static_cast<std::int64_t>(length) + 300;
    switch (how % 4) {
        case 0:  // anything, negatives and windows up to 2^62 included
            return static_cast<std::int64_t>(number) * (std::int64_t{1} << (how / 4 % 32));
        case 1:
            return std::abs(static_cast<std::int64_t>(number)) % span;
        case 2: {
            constexpr std::array<std::int64_t, 8> edges{0,
                                                        -1,
                                                        std::numeric_limits<std::int32_t>::min(),
                                                        std::numeric_limits<std::int32_t>::max(),
                                                        std::numeric_limits<std::int64_t>::min(),
                                                        std::numeric_limits<std::int64_t>::max(),
                                                        0,
                                                        1};
            const std::int64_t edge = edges[static_cast<std::uint32_t>(number) % edges.size()];
            // Past the end by that much, but for the largest window, which has no beyond.
            const bool beyond = number % 2 != 0 && edge != std::numeric_limits<std::int64_t>::max();
            return beyond ? static_cast<std::int64_t>(length) + edge : edge;
        }
        default:
            return static_cast<std::int64_t>(length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    constexpr std::array<std::size_t, 6> blockSizes{1, 2, 3, 7, 64, 4096};
    std::int32_t number = 0;
    std::memcpy(&number, data + 2, sizeof number);
    const std::string_view sequence(reinterpret_cast<const char*>(data + 6), size - 6);
    const std::int64_t window = chooseWindow(data[0], number, sequence.size());

    const std::size_t blockSize = blockSizes[data[1] % blockSizes.size()];
    const Measured measured = measureInMemory(sequence, window, blockSize);
    const std::string expected = naive::resultLine(sequence, window);
    if (measured.line != expected) {
        std::fprintf(stderr, "window %lld over %zu bytes: got %s, expected %s", static_cast<long long>(window),
                     sequence.size(), measured.line.c_str(), expected.c_str());
        std::abort();
    }

    return 0;
}
