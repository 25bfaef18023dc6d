#include "block_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "gc_count.hpp"
#include "retry.hpp"

namespace gcwindow {

BlockReader::BlockReader(int fd, mode_t kind, std::span<unsigned char> buffer)
    : fd_(fd), kind_(kind), buffer_(buffer), atOffsets_(S_ISREG(kind)) {}

BlockReader BlockReader::atOffsets(int fd, std::span<unsigned char> buffer, std::uint64_t offset) {
    BlockReader reader(fd, S_IFREG, buffer);
    reader.position_ = offset;
    reader.mayReadInOrder_ = false;
    return reader;
}

Counted BlockReader::countNext(std::size_t limit) {
    const auto block = read(limit);
    if (block.empty()) return {};
    return {block.size(), countGc(block), block.back()};
}

std::span<const unsigned char> BlockReader::read(std::size_t limit) {
    if (atEnd_) return {};
    const std::size_t wanted = std::min(limit, buffer_.size());
    ssize_t got = 0;
    int error = 0;
    do {
        got = readSome(wanted);
        error = got < 0 ? errno : 0;
    } while (got < 0 && worthRetrying(error, fd_, POLLIN));
    if (got <= 0) {
        atEnd_ = true;
        error_ = error;
        return {};
    }
    position_ += static_cast<std::uint64_t>(got);
    return {buffer_.data(), static_cast<std::size_t>(got)};
}

// A regular file is read at its own position, which a count made another
// way passes without moving the file offset. Some regular files refuse
// pread with ESPIPE but read in order (tracefs's trace_pipe, FUSE files
// opened non-seekable, which cat reads): those are read from here on, from
// the offset that the bytes read so far end at.
ssize_t BlockReader::readSome(std::size_t wanted) {
    if (atOffsets_) {
        const ssize_t got = ::pread(fd_, buffer_.data(), wanted, static_cast<off_t>(position_));
        if (got >= 0 || errno != ESPIPE || !mayReadInOrder_) return got;
        if (position_ != 0 && lseek(fd_, static_cast<off_t>(position_), SEEK_SET) < 0) return -1;
        atOffsets_ = false;
    }
    return ::read(fd_, buffer_.data(), wanted);
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
    } while (moved > 0 || (moved < 0 && worthRetrying(errno, fd_, POLLIN)));
    close(sink);
    atEnd_ = moved == 0;
    return atEnd_;
#else
    return false;
#endif
}

}  // namespace gcwindow
