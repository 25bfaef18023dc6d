#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace gcwindow {

// Half of a 1 MiB L2 cache: a block is still cached when it is counted right
// after the kernel copied it in. 512 KiB measured fastest of 64 KiB to 1 MiB.
constexpr std::size_t blockBytes = std::size_t{512} << 10;

// The GC bytes among the next bytes of an input.
struct Counted {
    std::size_t bytes = 0;  // 0 once the input has ended or failed
    std::size_t gc = 0;
    unsigned char last = 0;  // the last of them, when there are any
};

// Reads a file descriptor in order, a block at a time into a caller-owned
// buffer, and counts each block's GC bytes: memory stays the same whatever
// the length of the input.
class BlockReader {
  public:
    // `kind` is the input's file type (st_mode), learnt when it was opened.
    BlockReader(int fd, mode_t kind, std::span<unsigned char> buffer);

    // Reads the regular file `fd` from `offset` on at its own offsets, never
    // moving the file offset, so that threads can share the descriptor. A
    // file that refuses that fails with ESPIPE.
    static BlockReader atOffsets(int fd, std::span<unsigned char> buffer, std::uint64_t offset);

    // Counts the next bytes of the input, at most `limit` and at most a
    // block of them. Nothing once the input has ended or a read has failed,
    // and from then on; failed() tells which, and error() the errno. An
    // interrupted read is made again, and a pipe, socket or terminal with
    // nothing to read yet (non-blocking) is waited for.
    Counted countNext(std::size_t limit);
    bool failed() const { return error_ != 0; }
    int error() const { return error_; }

    // Passes over bytes of a regular file that were counted another way.
    void skip(std::uint64_t bytes) { position_ += bytes; }

    // Reads a pipe or socket to its end, so that the process writing into it
    // is never cut off. A regular file or a device is left alone: nobody can
    // tell whether a file's tail was read, and /dev/zero never ends.
    void drain();

    int fd() const { return fd_; }
    std::size_t blockSize() const { return buffer_.size(); }

  private:
    std::span<const unsigned char> read(std::size_t limit);
    ssize_t readSome(std::size_t wanted);
    bool spliceToNull();

    int fd_;
    mode_t kind_;
    std::span<unsigned char> buffer_;
    std::uint64_t position_ = 0;  // where a regular file is read next
    bool atOffsets_;              // pread, at position_, rather than read
    bool mayReadInOrder_ = true;  // whether a file that refuses pread is read instead
    bool atEnd_ = false;
    int error_ = 0;
};

}  // namespace gcwindow
