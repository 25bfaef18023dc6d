#include "retry.hpp"

#include <poll.h>
#include <sys/stat.h>

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

}  // namespace gcwindow
