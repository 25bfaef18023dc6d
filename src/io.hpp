#pragma once

// What every read and write of the tool shares: when a failed call is worth
// making again, and writing a line whole.

#include <sys/uio.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace gcwindow {

// Whether a call on `fd` that failed with `error` should just be made again:
// it was interrupted, or `fd` is a pipe, FIFO, socket or character device
// that would have blocked, and poll() has said it can go on (`events` is
// POLLIN for a read, POLLOUT for a write). A regular file or a block device
// that says EAGAIN is always ready to poll(), so waiting there would never
// end: that is a failure.
bool worthRetrying(int error, int fd, short events);

// Writes every byte of the `count` parts to `fd`, however the descriptor
// takes them: an interrupted or short write goes on from where it stopped,
// and a pipe, socket or terminal that is full for now (non-blocking) is
// waited for. False when a write really fails (EPIPE, ENOSPC, EIO, ...).
// The parts are used up.
bool writeParts(int fd, iovec* parts, std::size_t count);

// Whether `bytes` more fit in `fd` under the process's file-size limit. A
// regular file takes what fits and refuses the rest, and a line cut there,
// such as 0.60, would read as an answer; where the limit, or where the line
// would go, cannot be learnt, the write is left to tell.
bool fitsSizeLimit(int fd, std::size_t bytes);

// Writes the pieces, such as a message and the path in it, in one writev
// where it takes them whole: a line that fits a pipe's atomic size does not
// mix with another writer's. A line that the file-size limit would cut is
// not written at all.
template <typename... Pieces>
bool writeWhole(int fd, Pieces... pieces) {
    std::array<iovec, sizeof...(Pieces)> parts{
        iovec{const_cast<char*>(std::string_view(pieces).data()), std::string_view(pieces).size()}...};
    return fitsSizeLimit(fd, (std::string_view(pieces).size() + ...)) && writeParts(fd, parts.data(), parts.size());
}

}  // namespace gcwindow
