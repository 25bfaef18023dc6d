#include "block_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace gcwindow {

std::span<const unsigned char> BlockReader::read(std::size_t limit) {
    if (atEnd_) return {};
    const std::size_t wanted = std::min(limit, buffer_.size());
    ssize_t got = 0;
    do {
        got = ::read(fd_, buffer_.data(), wanted);
    } while (got < 0 && errno == EINTR);
    // A read error ends the input just as its end does.
    if (got <= 0) {
        atEnd_ = true;
        return {};
    }
    return buffer_.first(static_cast<std::size_t>(got));
}

void BlockReader::drain() {
    struct stat kind {};
    if (atEnd_ || fstat(fd_, &kind) != 0) return;
    if (!S_ISFIFO(kind.st_mode) && !S_ISSOCK(kind.st_mode)) return;
    if (spliceToNull()) return;
    while (!read(buffer_.size()).empty()) {
    }
}

// Moves the rest of a pipe into /dev/null inside the kernel, never copying
// it through the buffer. False where splice cannot be used (a socket is not
// a pipe), and the caller reads instead.
bool BlockReader::spliceToNull() {
    // A pipe of the largest size any user may ask for (Linux's default
    // pipe-max-size): the writer wakes us a sixteenth as often. Refusal is harmless.
    fcntl(fd_, F_SETPIPE_SZ, 1 << 20);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink < 0) return false;
    ssize_t moved = 0;
    do {
        moved = splice(fd_, nullptr, sink, nullptr, INT_MAX, SPLICE_F_MOVE);
    } while (moved > 0 || (moved < 0 && errno == EINTR));
    close(sink);
    atEnd_ = moved == 0;
    return atEnd_;
}

}  // namespace gcwindow
