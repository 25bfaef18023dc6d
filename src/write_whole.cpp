#include "write_whole.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "retry.hpp"

namespace gcwindow {

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
