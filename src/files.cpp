#include "files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace gcwindow {

namespace {

FileIdentity identityOf(const struct stat& status) { return {status.st_dev, status.st_ino}; }

// Errors of stat() that say the path names no file at all, so no output
// can be that file. A name too long or with too many links may still name
// one by another path: its identity is unknown, not absent.
bool namesNoFile(int error) { return error == ENOENT || error == ENOTDIR; }

// Whether descriptor `stream` is open on the file that `status` describes.
bool isOpenOn(int stream, const struct stat& status) {
    struct stat streamStatus {};
    return fstat(stream, &streamStatus) == 0 && identityOf(streamStatus) == identityOf(status);
}

// Whether `output` is the file that standard input, output or error is open
// on, by whatever name: emptying it would wipe the lines that a shell's >>
// gathered there, or the input that < feeds. `fd` is the output's own
// descriptor, which may have taken a closed stream's number, or -1. Where a
// stream cannot be looked at, it may be this file.
bool isAStandardStream(const struct stat& output, int fd) {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (stream == fd) continue;
        struct stat status {};
        if (fstat(stream, &status) != 0) {
            if (errno == EBADF) continue;
            return true;
        }
        if (identityOf(status) == identityOf(output)) return true;
    }
    return false;
}

}  // namespace

// Where SEQFILE cannot be identified (stat fails but for a name that names
// nothing), it is not read, and OUTPUT is left alone: it might be SEQFILE.
Input openInput(const char* path) {
    Input input;
    struct stat status {};
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    const int openError = errno;
    if (fd < 0 ? stat(path, &status) != 0 : fstat(fd, &status) != 0) {
        input.identityUnknown = fd >= 0 || !namesNoFile(errno);
        if (fd >= 0) close(fd);
        return input;
    }
    input.identity = identityOf(status);
    if (fd < 0 && openError == ENXIO && S_ISSOCK(status.st_mode) && isOpenOn(STDIN_FILENO, status)) {
        fd = STDIN_FILENO;
    }
    if (fd < 0) return input;
    if (S_ISDIR(status.st_mode)) {
        close(fd);
        return input;
    }
    input.fd = fd;
    input.kind = status.st_mode;
    return input;
}

// The identity is taken from the opened file, so that a link swapped in
// between cannot slip past; where the open failed, from what the path names.
// SEQFILE itself is compared first: with standard input closed, it may sit
// on descriptor 0.
Output openOutput(const char* path, std::optional<FileIdentity> input) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    struct stat status {};
    if (fd < 0) {
        const bool named = stat(path, &status) == 0;
        const bool isInput = named && S_ISREG(status.st_mode) && identityOf(status) == input;
        return {.failed = !named || isInput || !isAStandardStream(status, -1)};
    }
    if (fstat(fd, &status) != 0) {
        close(fd);
        return {};
    }
    const bool isInput = identityOf(status) == input;
    if (S_ISREG(status.st_mode) && (isInput || (!isAStandardStream(status, fd) && ftruncate(fd, 0) != 0))) {
        close(fd);
        return {};
    }
    // A pipe or FIFO that is SEQFILE too would never end while this write
    // end of it stays open: it is let go at once.
    if (isInput) {
        close(fd);
        return {.failed = false};
    }
    return {.fd = fd, .failed = false};
}

// The read end of a pipe holds each closed number: a write to it fails, as
// to a closed descriptor, and reaches no file; and unlike /dev/null, a pipe
// is there in a bare chroot or sandbox.
bool holdClosedStandardStreams() {
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
        int ends[2];
        // With standard input closed too, the pipe's ends are 0 and 1: the
        // dup2 then replaces the write end.
        const bool held = pipe(ends) == 0 && (ends[0] == stream || dup2(ends[0], stream) == stream);
        if (!held) {
            if (stream == STDOUT_FILENO) return false;
            continue;
        }
        if (ends[0] != stream) close(ends[0]);
        if (ends[1] != stream) close(ends[1]);
    }
    return true;
}

}  // namespace gcwindow
