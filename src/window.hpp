#pragma once

#include <cstdint>
#include <span>

namespace gcwindow {

// Reads the window length as strtoll reads base 10: leading white space, one
// sign, digits up to the first non-digit, no digits gives 0. A text beyond
// the signed 64-bit range takes the nearest limit, never its low bits.
std::int64_t parseWindow(const char* text);

struct FirstWindow {
    std::int64_t gcTot = 0;   // window positions that hold G, C, g or c
    bool keepGoing = true;    // the input may hold more: no read found its end inside the window
    bool readFailed = false;  // a read inside the window failed: there is no answer
};

// Counts the GC bytes among the first `runningWindow` positions of the input
// open as `fd`, read from where its offset stands (its start, as opened).
// `block` is where reading in order puts each block. Every byte is a position,
// line breaks included. When the input ends early, each remaining position
// repeats its last byte; an empty input has none to repeat, so its positions
// count as not GC. A window of 0 or less reads nothing. A read that fails is
// never taken for the end: padding after it would print a plausible wrong
// share.
FirstWindow measureFirstWindow(int fd, std::int64_t runningWindow, std::span<unsigned char> block);

// Reads the rest of the input after the window and throws it away, so that
// the process writing into a pipe or socket is never cut off. A read that
// fails only ends it early.
void drainInput(int fd, std::span<unsigned char> block);

// The result line, such as "0.516000\n": the share taken in single precision,
// printed with "%f\n". A window of 0 gives "-nan" on every target, a negative
// window "-0.000000".
struct ResultLine {
    char text[16];
};
ResultLine resultLine(std::int64_t gcTot, std::int64_t runningWindow);

}  // namespace gcwindow
