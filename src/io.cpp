#include "io.hpp"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace gcwindow {

bool worthRetrying(int error, int fd, short events) {
    if (error == EINTR) return true;
    if (error != EAGAIN && error != EWOULDBLOCK) return false;
    struct stat status {};
    if (fstat(fd, &status) != 0) return false;
    const mode_t kind = status.st_mode;
    if (!S_ISFIFO(kind) && !S_ISSOCK(kind) && !S_ISCHR(kind)) return false;
    pollfd ready{.fd = fd, .events = events, .revents = 0};
    int polled = 0;
    do {
        polled = poll(&ready, 1, -1);
    } while (polled < 0 && (errno == EINTR || errno == EAGAIN));
    return polled > 0;
}

bool writeParts(int fd, iovec* parts, std::size_t count) {
    for (;;) {
        while (count > 0 && parts->iov_len == 0) {
            ++parts;
            --count;
        }
        if (count == 0) return true;
        const ssize_t wrote = writev(fd, parts, static_cast<int>(count));
        if (wrote < 0) {
            if (worthRetrying(errno, fd, POLLOUT)) continue;
            return false;
        }
        // Nothing taken and no error: another try would spin.
        if (wrote == 0) return false;
        for (auto left = static_cast<std::size_t>(wrote); left > 0;) {
            const std::size_t taken = std::min(left, parts->iov_len);
            parts->iov_base = static_cast<char*>(parts->iov_base) + taken;
            parts->iov_len -= taken;
            left -= taken;
            if (parts->iov_len == 0) {
                ++parts;
                --count;
            }
        }
    }
}

}  // namespace gcwindow
