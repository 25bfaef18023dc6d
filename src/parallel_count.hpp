#pragma once

#include <cstddef>
#include <cstdint>

#include "block_reader.hpp"

namespace gcwindow {

// Pieces shorter than this are not worth a thread: a stretch of a file is
// shared out only where it holds two of them.
constexpr std::size_t shortestPiece = std::size_t{16} << 20;

// What a count of a file's start in several threads came to.
enum class Parallel {
    counted,     // the whole stretch, of a file that did not change meanwhile
    countAgain,  // a piece came short, the file changed, or its offset would not move: count it in order
    failed,      // a read failed
    notTried,    // not a regular file, too short a stretch, or one CPU
};

struct ParallelCount {
    Parallel outcome = Parallel::notTried;
    Counted counted = {};  // when counted
};

// Counts the first `limit` bytes of the regular file `fd`, or all of it when
// it is shorter, in `wanted` threads (where 0, one for each CPU this process
// may run on and one more; at most four) that each read blocks of `blockSize`
// bytes (at most blockBytes) at their own offsets, from where the file
// offset stands, and when it has counted, moves the file offset to the end
// of the stretch: reading in order goes on from there. Where the file's size or
// times changed meanwhile, the pieces may hold what no pass from start to
// end could see, and it says so instead. A write through a shared mapping,
// or one within the clock tick of the write before it where times are
// coarse, leaves them as they were.
ParallelCount countFileStart(int fd, std::uint64_t limit, std::size_t shortest = shortestPiece,
                             std::size_t blockSize = blockBytes, unsigned wanted = 0);

}  // namespace gcwindow
