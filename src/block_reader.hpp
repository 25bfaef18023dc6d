#pragma once

#include <sys/types.h>

#include <cstddef>
#include <span>

namespace gcwindow {

// Reads a file descriptor in blocks through one caller-owned buffer, so memory
// stays the buffer's size whatever the length of the input.
class BlockReader {
  public:
    // `kind` is the input's file type (st_mode), learnt when it was opened.
    BlockReader(int fd, mode_t kind, std::span<unsigned char> buffer) : fd_(fd), kind_(kind), buffer_(buffer) {}

    // The next bytes of the input, at most `limit` of them. Empty once the
    // input has ended or a read has failed, and from then on; failed() tells
    // which. An input with nothing to read yet (non-blocking) is waited for.
    std::span<const unsigned char> read(std::size_t limit);
    bool failed() const { return failed_; }

    // Reads a pipe or socket to its end, so that the process writing into it
    // is never cut off. A regular file or a device is left alone: nobody can
    // tell whether a file's tail was read, and /dev/zero never ends.
    void drain();

  private:
    bool spliceToNull();

    int fd_;
    mode_t kind_;
    std::span<unsigned char> buffer_;
    bool atEnd_ = false;
    bool failed_ = false;
};

}  // namespace gcwindow
