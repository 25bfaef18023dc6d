#include "window.hpp"

#include <cstdio>
#include <optional>

#include "gc_count.hpp"

namespace gcwindow {

FirstWindow measureFirstWindow(BlockReader& ins, std::int32_t runningWindow, std::size_t shortest) {
    FirstWindow window;
    if (runningWindow <= 0) return window;

    auto unfilled = static_cast<std::size_t>(runningWindow);
    std::optional<unsigned char> base;
    const auto add = [&](const Counted& counted) {
        window.gcTot += static_cast<std::int32_t>(counted.gc);
        base = counted.last;
        unfilled -= counted.bytes;
    };
    // Threads count what they can of a long stretch at the file's start; the
    // rest, or all of it where they could not, is read in order.
    const ParallelCount parallel = countFileStart(ins.fd(), unfilled, ins.blockSize(), shortest);
    if (parallel.outcome == Parallel::counted) {
        add(parallel.counted);
        ins.skip(parallel.counted.bytes);
    }
    while (unfilled > 0 && parallel.outcome != Parallel::failed) {
        const Counted counted = ins.countNext(unfilled);
        if (counted.bytes == 0) break;
        add(counted);
    }
    window.readFailed = parallel.outcome == Parallel::failed || ins.failed();
    window.keepGoing = unfilled == 0;
    if (window.readFailed) return window;
    // Positions past the end repeat the last byte, all in one step: a window
    // of two billion over a two-byte file costs no more than one of two.
    if (base && isGc(*base)) window.gcTot += static_cast<std::int32_t>(unfilled);
    return window;
}

ResultLine resultLine(std::int32_t gcTot, std::int32_t runningWindow) {
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
