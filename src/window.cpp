#include "window.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>

#include "block_reader.hpp"
#include "gc_count.hpp"
#include "parallel_count.hpp"

namespace gcwindow {

std::int64_t parseWindow(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    // The magnitude stops at 2^63, the most that either limit needs.
    constexpr std::uint64_t limit = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (!negative) return static_cast<std::int64_t>(std::min(magnitude, limit - 1));
    return magnitude == limit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(magnitude);
}

FirstWindow measureFirstWindow(int fd, std::int64_t runningWindow, std::span<unsigned char> block) {
    FirstWindow window;
    if (runningWindow <= 0) return window;

    auto unfilled = static_cast<std::uint64_t>(runningWindow);
    std::optional<unsigned char> base;
    const auto add = [&](const Counted& counted) {
        window.gcTot += static_cast<std::int64_t>(counted.gc);
        base = counted.last;
        unfilled -= counted.bytes;
    };
    // Threads count a long stretch at a regular file's start where they can,
    // and leave the file offset after it; the rest is read in order.
    const ParallelCount parallel = countFileStart(fd, unfilled);
    if (parallel.outcome == Parallel::failed) return {.keepGoing = false, .readFailed = true};
    if (parallel.outcome == Parallel::counted) add(parallel.counted);
    BlockReader ins(fd, block);
    while (unfilled > 0) {
        const Counted counted = ins.countNext(unfilled);
        if (counted.bytes == 0) break;
        add(counted);
    }
    window.readFailed = ins.failed();
    window.keepGoing = unfilled == 0;
    if (window.readFailed) return window;
    // Positions past the end repeat the last byte, all in one step: a window
    // of 2^63 - 1 over a two-byte file costs no more than one of two.
    if (base && isGc(*base)) window.gcTot += static_cast<std::int64_t>(unfilled);
    return window;
}

void drainInput(int fd, std::span<unsigned char> block) { BlockReader(fd, block).drain(); }

ResultLine resultLine(std::int64_t gcTot, std::int64_t runningWindow) {
    // 0/0 is the default NaN, whose sign is the hardware's: set on x86, clear
    // on ARM, POWER, s390x and RISC-V. The tool prints x86's line everywhere.
    if (runningWindow == 0) return ResultLine{"-nan\n"};  // named: GCC 10 refuses bare braces here
    // Each step is stored as a float: x87 would otherwise keep the counts and
    // the quotient in extended precision, and GCC does not round them back on a
    // cast in C++, so i386 would print 0.004687 where every other target
    // prints 0.004688. The stores cost nothing against the reading.
    const volatile float gc = static_cast<float>(gcTot);
    const volatile float positions = static_cast<float>(runningWindow);
    const volatile float share = gc / positions;
    // The share lies in [-0, 1]: at most "1.000000\n".
    ResultLine line{};
    std::snprintf(line.text, sizeof line.text, "%f\n", static_cast<double>(share));
    return line;
}

}  // namespace gcwindow
