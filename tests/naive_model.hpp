#pragma once

// What the tool must print, worked out one byte at a time, and the real
// measure run through the real block reader, for tests to compare.

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "block_reader.hpp"
#include "window.hpp"

namespace naive {

inline bool isGc(char base) { return base == 'G' || base == 'C' || base == 'g' || base == 'c'; }

// Each position takes the next byte while there are bytes; every position
// after the end repeats the last one (none, for an empty input), so those are
// counted together rather than looping two billion times over two bytes.
inline std::string resultLine(std::string_view input, std::int32_t window) {
    std::int64_t gcTot = 0;
    std::int64_t position = 0;
    for (; position < window && position < static_cast<std::int64_t>(input.size()); ++position) {
        if (isGc(input[position])) ++gcTot;
    }
    if (position < window && !input.empty() && isGc(input.back())) gcTot += window - position;
    // The line x86-64 prints for 0/0, taken as the answer on every target.
    if (window == 0) return "-nan\n";
    // Stored, so that x87 rounds each to single precision as SSE does.
    const volatile float gc = static_cast<float>(gcTot);
    const volatile float positions = static_cast<float>(window);
    const volatile float share = gc / positions;
    char line[32];
    std::snprintf(line, sizeof line, "%f\n", static_cast<double>(share));
    return line;
}

struct Measured {
    std::string line;
    bool keepGoing;
};

// gcwindow's measure over `input` held in a memory file, read in blocks of
// `blockSize` bytes, by several threads where the window holds two pieces of
// `shortest` bytes.
inline Measured measure(std::string_view input, std::int32_t window, std::size_t blockSize,
                        std::size_t shortest = gcwindow::shortestPiece) {
    const int fd = memfd_create("input", MFD_CLOEXEC);
    if (fd < 0 || write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        std::abort();
    }
    std::vector<unsigned char> buffer(blockSize);
    gcwindow::BlockReader ins(fd, S_IFREG, buffer);
    const gcwindow::FirstWindow measured = gcwindow::measureFirstWindow(ins, window, shortest);
    close(fd);
    return {gcwindow::resultLine(measured.gcTot, window).text, measured.keepGoing};
}

}  // namespace naive
