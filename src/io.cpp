#include "io.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool fitsSizeLimit(int fd, std::size_t bytes) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return true;
    // An appending descriptor writes at the end, whatever its offset says.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return true;
    const off_t at = (flags & O_APPEND) != 0 ? status.st_size : lseek(fd, 0, SEEK_CUR);
    return at < 0 || static_cast<rlim_t>(at) + bytes <= limit.rlim_cur;
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
