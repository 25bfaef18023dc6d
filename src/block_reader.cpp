#include "block_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

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
    while (!read(buffer_.size()).empty()) {
    }
}

}  // namespace gcwindow
