#include "block_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>

#include "gc_count.hpp"
#include "io.hpp"

namespace gcwindow {

BlockReader::BlockReader(int fd, std::span<unsigned char> buffer) : fd_(fd), buffer_(buffer) {}

Counted BlockReader::countNext(std::uint64_t limit) {
    const auto block = read(limit);
    if (block.empty()) return {};
    return {block.size(), countGc(block), block.back()};
}

std::span<const unsigned char> BlockReader::read(std::uint64_t limit) {
    if (atEnd_) return {};
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(limit, buffer_.size()));
    ssize_t got = 0;
    do {
        got = ::read(fd_, buffer_.data(), wanted);
    } while (got < 0 && worthRetrying(errno, fd_, POLLIN));
    if (got <= 0) {
        atEnd_ = true;
        failed_ = got < 0;
        return {};
    }
    return {buffer_.data(), static_cast<std::size_t>(got)};
}

void BlockReader::drain() {
    if (atEnd_ || spliceToNull()) return;
    while (!read(buffer_.size()).empty()) {
    }
}

#if defined(SPLICE_F_MOVE)
namespace {

// Whether `sink` is the kernel's null device (character device 1, 3). In a
// container or chroot whose /dev was never set up, /dev/null may be a
// regular file that any "> /dev/null" made: splicing into it would fill the
// disk with the rest of a genome.
bool isKernelNull(int sink) {
    struct stat status {};
    return fstat(sink, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == makedev(1, 3);
}

}  // namespace
#endif

// Moves the rest of a pipe into /dev/null inside the kernel, never copying
// it through the buffer. False where splice cannot be used (not a pipe, no
// null device) or fails, and the caller reads the rest instead.
bool BlockReader::spliceToNull() {
#if defined(SPLICE_F_MOVE)
    // A pipe of the largest size any user may ask for (Linux's default
    // pipe-max-size): the writer wakes us a sixteenth as often. Refusal is harmless.
    fcntl(fd_, F_SETPIPE_SZ, 1 << 20);
    // Non-blocking: a FIFO standing at /dev/null would make the open wait.
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (sink < 0) return false;
    if (!isKernelNull(sink)) {
        close(sink);
        return false;
    }
    ssize_t moved = 0;
    do {
        moved = splice(fd_, nullptr, sink, nullptr, INT_MAX, SPLICE_F_MOVE);
    } while (moved > 0 || (moved < 0 && worthRetrying(errno, fd_, POLLIN)));
    close(sink);
    atEnd_ = moved == 0;
    return atEnd_;
#else
    return false;
#endif
}

}  // namespace gcwindow
