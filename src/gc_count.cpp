#include "gc_count.hpp"

namespace gcwindow {

std::size_t countGcPortable(std::span<const unsigned char> bytes) {
    std::size_t count = 0;
    for (const unsigned char base : bytes) count += isGc(base) ? 1 : 0;
    return count;
}

std::size_t countGc(std::span<const unsigned char> bytes) { return countGcPortable(bytes); }

}  // namespace gcwindow
