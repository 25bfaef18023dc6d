#pragma once

#include <cstddef>
#include <span>

namespace gcwindow {

// Reads a file descriptor in blocks through one caller-owned buffer, so memory
// stays the buffer's size whatever the length of the input.
class BlockReader {
  public:
    BlockReader(int fd, std::span<unsigned char> buffer) : fd_(fd), buffer_(buffer) {}

    // The next bytes of the input, at most `limit` of them. Empty once the
    // input has ended or a read has failed, and from then on.
    std::span<const unsigned char> read(std::size_t limit);

    // Reads a pipe or socket to its end, so that the process writing into it
    // is never cut off. A regular file or a device is left alone: nobody can
    // tell whether a file's tail was read, and /dev/zero never ends.
    void drain();

  private:
    bool spliceToNull();

    int fd_;
    std::span<unsigned char> buffer_;
    bool atEnd_ = false;
};

}  // namespace gcwindow
