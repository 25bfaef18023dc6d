#pragma once

#include <cstddef>
#include <cstdint>

#include "block_reader.hpp"

namespace gcwindow {

// Pieces shorter than this are not worth a thread: a stretch of a file is
// shared out only where it holds two of them.
constexpr std::uint64_t shortestPiece = std::uint64_t{16} << 20;

// What a count of a file's start in several threads came to.
enum class Parallel {
    counted,    // the whole stretch, from a file that did not change meanwhile
    cameShort,  // a piece came short, or the file changed: count it in order
    failed,     // a read failed
    notTried,   // not a regular file, too short a stretch, or one CPU
};

struct ParallelCount {
    Parallel outcome = Parallel::notTried;
    Counted counted = {};  // when counted
};

// Counts the first `limit` bytes of the regular file `fd`, or all of it when
// it is shorter, in several threads that each read blocks of `blockSize` bytes
// (at most blockBytes). It gives only what one pass from start to end could
// give: where the file changed while it was counted, it says so instead.
ParallelCount countFileStart(int fd, std::uint64_t limit, std::size_t blockSize,
                             std::uint64_t shortest = shortestPiece);

}  // namespace gcwindow
