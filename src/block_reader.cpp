#include "block_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "gc_count.hpp"

namespace gcwindow {

namespace {

// Whether a call that failed with this errno should just be made again: an
// interrupted call, or a non-blocking input (as some job runners leave standard
// input) that has nothing yet, once poll() says it has.
bool worthRetrying(int error, int fd) {
    if (error == EINTR) return true;
    if (error != EAGAIN && error != EWOULDBLOCK) return false;
    pollfd ready{.fd = fd, .events = POLLIN, .revents = 0};
    int polled = 0;
    do {
        polled = poll(&ready, 1, -1);
    } while (polled < 0 && (errno == EINTR || errno == EAGAIN));
    return polled > 0;
}

}  // namespace

BlockReader::BlockReader(int fd, mode_t kind, std::span<unsigned char> buffer)
    : fd_(fd), kind_(kind), buffer_(buffer) {}

Counted BlockReader::countNext(std::size_t limit) {
    const auto block = read(limit);
    if (block.empty()) return {};
    return {block.size(), countGc(block), block.back()};
}

// A regular file is read at its own position, which a count made another
// way passes without moving the file offset.
std::span<const unsigned char> BlockReader::read(std::size_t limit) {
    if (atEnd_) return {};
    const std::size_t wanted = std::min(limit, buffer_.size());
    ssize_t got = 0;
    do {
        got = S_ISREG(kind_) ? ::pread(fd_, buffer_.data(), wanted, static_cast<off_t>(position_))
                             : ::read(fd_, buffer_.data(), wanted);
    } while (got < 0 && worthRetrying(errno, fd_));
    if (got <= 0) {
        atEnd_ = true;
        failed_ = got < 0;
        return {};
    }
    position_ += static_cast<std::uint64_t>(got);
    return {buffer_.data(), static_cast<std::size_t>(got)};
}

// The answer is already out when this runs, so a read that fails here only
// ends the drain early.
void BlockReader::drain() {
    if (atEnd_ || (!S_ISFIFO(kind_) && !S_ISSOCK(kind_))) return;
    if (S_ISFIFO(kind_) && spliceToNull()) return;
    while (!read(buffer_.size()).empty()) {
    }
}

// Moves the rest of a pipe into /dev/null inside the kernel, never copying
// it through the buffer. False where splice cannot be used or fails, and the
// caller reads the rest instead.
bool BlockReader::spliceToNull() {
#if defined(SPLICE_F_MOVE)
    // A pipe of the largest size any user may ask for (Linux's default
    // pipe-max-size): the writer wakes us a sixteenth as often. Refusal is harmless.
    fcntl(fd_, F_SETPIPE_SZ, 1 << 20);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink < 0) return false;
    ssize_t moved = 0;
    do {
        moved = splice(fd_, nullptr, sink, nullptr, INT_MAX, SPLICE_F_MOVE);
    } while (moved > 0 || (moved < 0 && worthRetrying(errno, fd_)));
    close(sink);
    atEnd_ = moved == 0;
    return atEnd_;
#else
    return false;
#endif
}

}  // namespace gcwindow
