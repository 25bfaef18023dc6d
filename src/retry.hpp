#pragma once

namespace gcwindow {

// Whether a call on `fd` that failed with `error` should just be made again:
// it was interrupted, or `fd` is a pipe, FIFO, socket or character device
// that would have blocked, and poll() has said it can go on (`events` is
// POLLIN for a read, POLLOUT for a write). A regular file or a block device
// that says EAGAIN is always ready to poll(), so waiting there would never end:
// that is a failure.
bool worthRetrying(int error, int fd, short events);

}  // namespace gcwindow
