#include "window.hpp"

#include <cstdio>
#include <optional>

#include "gc_count.hpp"

namespace gcwindow {

FirstWindow measureFirstWindow(BlockReader& ins, std::int32_t runningWindow) {
    FirstWindow window;
    if (runningWindow <= 0) return window;

    auto unfilled = static_cast<std::size_t>(runningWindow);
    std::optional<unsigned char> base;
    while (unfilled > 0) {
        const auto block = ins.read(unfilled);
        if (block.empty()) {
            window.keepGoing = false;
            window.readFailed = ins.failed();
            if (window.readFailed) return window;
            break;
        }
        window.gcTot += static_cast<std::int32_t>(countGc(block));
        base = block.back();
        unfilled -= block.size();
    }
    // Positions past the end repeat the last byte, all in one step: a window
    // of two billion over a two-byte file costs no more than one of two.
    if (base && isGc(*base)) window.gcTot += static_cast<std::int32_t>(unfilled);
    return window;
}

std::string resultLine(std::int32_t gcTot, std::int32_t runningWindow) {
    const float share = static_cast<float>(gcTot) / static_cast<float>(runningWindow);
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%f\n", static_cast<double>(share));
    return {line, static_cast<std::size_t>(length)};
}

}  // namespace gcwindow
