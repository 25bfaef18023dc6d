#pragma once

#include <sys/uio.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace gcwindow {

// Writes every byte of the `count` parts to `fd`, however the descriptor
// takes them: an interrupted or short write goes on from where it stopped,
// and a pipe, socket or terminal that is full for now (non-blocking) is
// waited for. False when a write really fails (EPIPE, ENOSPC, EIO, ...).
// The parts are used up.
bool writeParts(int fd, iovec* parts, std::size_t count);

// Writes the pieces, such as a message and the path in it, in one writev
// where it takes them whole: a line that fits a pipe's atomic size does not
// mix with another writer's.
template <typename... Pieces>
bool writeWhole(int fd, Pieces... pieces) {
    std::array<iovec, sizeof...(Pieces)> parts{
        iovec{const_cast<char*>(std::string_view(pieces).data()), std::string_view(pieces).size()}...};
    return writeParts(fd, parts.data(), parts.size());
}

}  // namespace gcwindow
