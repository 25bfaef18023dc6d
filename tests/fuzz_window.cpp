// libFuzzer target: arbitrary bytes and a window through the real block
// reader, at several block sizes, against a naive one-byte-at-a-time model.
//
// Input layout: byte 0 picks how the window is chosen, byte 1 the block size,
// bytes 2-5 a 32-bit number; the rest is the sequence.

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "block_reader.hpp"
#include "window.hpp"

namespace {

// One position at a time while there are bytes; positions past the end all
// repeat the last byte, so they are counted together rather than looping two
// billion times for a two-byte input.
std::string modelResultLine(const std::uint8_t* sequence, std::size_t length, std::int32_t window) {
    std::int64_t gcTot = 0;
    std::int64_t position = 0;
    for (; position < window && static_cast<std::size_t>(position) < length; ++position) {
        const std::uint8_t base = sequence[position];
        if (base == 'G' || base == 'C' || base == 'g' || base == 'c') ++gcTot;
    }
    const std::uint8_t last = length > 0 ? sequence[length - 1] : 0;
    if (position < window && (last == 'G' || last == 'C' || last == 'g' || last == 'c')) gcTot += window - position;
    char line[32];
    std::snprintf(line, sizeof line, "%f\n",
                  static_cast<double>(static_cast<float>(gcTot) / static_cast<float>(window)));
    return line;
}

std::int32_t chooseWindow(std::uint8_t how, std::int32_t number, std::size_t length) {
    const auto span = static_cast<std::int64_t>(length) + 300;
    switch (how % 4) {
        case 0:
            return number;  // anything, 2147483647 and negatives included
        case 1:
            return static_cast<std::int32_t>(std::abs(static_cast<std::int64_t>(number)) % span);
        case 2: {
            constexpr std::array<std::int64_t, 6> edges{
                0, -1, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), 0, 1};
            const std::int64_t edge = edges[static_cast<std::uint32_t>(number) % edges.size()];
            return static_cast<std::int32_t>(number % 2 == 0 ? edge : static_cast<std::int64_t>(length) + edge);
        }
        default:
            return static_cast<std::int32_t>(length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    constexpr std::array<std::size_t, 6> blockSizes{1, 2, 3, 7, 64, 4096};
    std::int32_t number = 0;
    std::memcpy(&number, data + 2, sizeof number);
    const std::uint8_t* sequence = data + 6;
    const std::size_t length = size - 6;
    const std::int32_t window = chooseWindow(data[0], number, length);

    const int fd = memfd_create("sequence", MFD_CLOEXEC);
    if (fd < 0 || write(fd, sequence, length) != static_cast<ssize_t>(length) || lseek(fd, 0, SEEK_SET) != 0) {
        std::abort();
    }
    std::vector<unsigned char> buffer(blockSizes[data[1] % blockSizes.size()]);
    gcwindow::BlockReader ins(fd, buffer);
    const gcwindow::FirstWindow measured = gcwindow::measureFirstWindow(ins, window);
    close(fd);

    const std::string got = gcwindow::resultLine(measured.gcTot, window);
    const std::string expected = modelResultLine(sequence, length, window);
    if (got != expected) {
        std::fprintf(stderr, "window %d over %zu bytes: got %s, expected %s", window, length, got.c_str(),
                     expected.c_str());
        std::abort();
    }
    return 0;
}
