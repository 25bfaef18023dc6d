#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace gcwindow {

// Half of a 1 MiB L2 cache: a block is still cached when it is counted right
// after the kernel copied it in.
constexpr std::size_t blockBytes = std::size_t{512} << 10;

// The GC bytes among the next bytes of an input: 64 bits on every target,
// since a window of a whole genome is longer than 32 bits can count.
struct Counted {
    std::uint64_t bytes = 0;  // 0 once the input has ended or failed
    std::uint64_t gc = 0;
    unsigned char last = 0;  // the last of them, when there are any
};

// Reads a file descriptor in order, from where its offset stands, a block at
// a time into a caller-owned buffer, and counts each block's GC bytes:
// memory stays the same whatever the length of the input.
class BlockReader {
  public:
    BlockReader(int fd, std::span<unsigned char> buffer);

    // Counts the next bytes of the input, at most `limit` and at most a
    // block of them. Nothing once the input has ended or a read has failed,
    // and from then on; failed() tells which. An interrupted read is made
    // again, and a pipe, socket or terminal with nothing to read yet
    // (non-blocking) is waited for.
    Counted countNext(std::uint64_t limit);
    bool failed() const { return failed_; }

    // Reads the rest of the input and throws it away, so that the process
    // writing into a pipe or socket is never cut off. A read that fails only
    // ends it early.
    void drain();

  private:
    std::span<const unsigned char> read(std::uint64_t limit);
    bool spliceToNull();

    int fd_;
    std::span<unsigned char> buffer_;
    bool atEnd_ = false;
    bool failed_ = false;
};

}  // namespace gcwindow
