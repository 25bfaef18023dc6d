#include "files.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

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

// Whether standard input is a socket that read() takes as a stream of
// bytes with an end. A datagram socket reports no end once its peer has
// gone; one of sequenced packets drops the rest of a packet longer than a
// read, and an empty packet would pass for the end.
bool isStreamSocket(int socket) {
    int type = 0;
    socklen_t length = sizeof type;
    return getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

// Whether a standard stream is open on a file: emptying it would wipe the
// lines that a shell's >> gathered there, or the input that < feeds.
enum class StreamMatch { none, found, unknown };

// Looks for `output` among standard input, output and error, by whatever
// name. `fd` is the output's own descriptor, which may have taken a closed
// stream's number, or -1. A stream that cannot be looked at may be it.
StreamMatch matchStandardStream(const struct stat& output, int fd) {
    StreamMatch match = StreamMatch::none;
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (stream == fd) continue;
        struct stat status {};
        if (fstat(stream, &status) != 0) {
            if (errno != EBADF) match = StreamMatch::unknown;
            continue;
        }
        if (identityOf(status) == identityOf(output)) return StreamMatch::found;
    }
    return match;
}

// What becomes of OUTPUT, open as `fd` on the file `opened` describes;
// `existed` tells whether the path named a file before the open. A pipe or
// FIFO that is SEQFILE's own is let go: it would never end while this write
// end of it stays open. A file the open created holds nobody's lines.
OutputOutcome fateOf(const struct stat& opened, int fd, const SeqIdentity& input, bool existed) {
    const bool isInput = input.is(identityOf(opened));
    if (!S_ISREG(opened.st_mode)) return isInput ? OutputOutcome::leftAlone : OutputOutcome::held;
    if (isInput) return OutputOutcome::leftAloneWithMessage;
    if (!existed) return OutputOutcome::held;
    switch (matchStandardStream(opened, fd)) {
        case StreamMatch::none:
            return OutputOutcome::held;
        case StreamMatch::found:
            return OutputOutcome::leftAlone;
        case StreamMatch::unknown:
            return OutputOutcome::leftAloneWithMessage;
    }
    return OutputOutcome::leftAloneWithMessage;  // not reached: every match is named above
}

// Empties a regular file that is to be held; lets go of anything else.
Output emptyOrLetGo(int fd, const SeqIdentity& input, bool existed) {
    struct stat opened {};
    OutputOutcome outcome = OutputOutcome::leftAloneWithMessage;
    if (fstat(fd, &opened) == 0) outcome = fateOf(opened, fd, input, existed);
    if (outcome == OutputOutcome::held && S_ISREG(opened.st_mode)) {
        const bool emptied = ftruncate(fd, 0) == 0;
        if (!emptied) outcome = OutputOutcome::leftAloneWithMessage;
    }
    if (outcome == OutputOutcome::held) return {.outcome = outcome, .fd = fd};
    close(fd);
    return {.outcome = outcome};
}

// What SEQFILE's path names, from the opened descriptor `fd` or, where the
// open failed, from the path.
SeqIdentity identify(const char* path, int fd, struct stat& status) {
    const int looked = fd >= 0 ? fstat(fd, &status) : stat(path, &status);
    if (looked == 0) return {.found = SeqIdentity::Found::file, .file = identityOf(status)};
    const bool absent = fd < 0 && namesNoFile(errno);
    return {.found = absent ? SeqIdentity::Found::nothing : SeqIdentity::Found::unknown};
}

}  // namespace

// Where SEQFILE cannot be identified (stat fails but for a name that names
// nothing), it is not read, and OUTPUT is left alone: it might be SEQFILE.
Input openInput(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    struct stat status {};
    const SeqIdentity identity = identify(path, fd, status);
    const bool readable = identity.found == SeqIdentity::Found::file && !S_ISDIR(status.st_mode);
    if (fd >= 0 && readable) return {.fd = fd, .kind = status.st_mode, .identity = identity};
    if (fd >= 0) close(fd);
    // Linux opens no socket by name: standard input's is read where it is open.
    const bool standardSocket =
        readable && S_ISSOCK(status.st_mode) && isOpenOn(STDIN_FILENO, status) && isStreamSocket(STDIN_FILENO);
    if (standardSocket) return {.fd = STDIN_FILENO, .kind = status.st_mode, .identity = identity};
    return {.identity = identity};
}

// The path is looked at before the open as well as the file after it: on
// overlayfs, opening a lower layer's file for writing copies it up, which
// parts it from its hard links (SEQFILE, a standard stream's file) before
// the opened file could be compared; and a link swapped in between cannot
// slip past the second look.
Output openOutput(const char* path, const SeqIdentity& input) {
    if (input.found == SeqIdentity::Found::unknown) return {.outcome = OutputOutcome::leftAloneWithMessage};
    struct stat named {};
    const bool looked = stat(path, &named) == 0;
    // A path that could not be looked at may still name a file that holds
    // a stream's lines: only a path that names nothing names no such file.
    const bool existed = looked || !namesNoFile(errno);
    if (looked && S_ISREG(named.st_mode) && input.is(identityOf(named))) {
        return {.outcome = OutputOutcome::leftAloneWithMessage};
    }
    // Linux opens no socket by name, but a standard stream's may be named.
    const bool streams = looked && matchStandardStream(named, -1) == StreamMatch::found;
    if (streams) return {.outcome = OutputOutcome::leftAlone};
    const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) return {.outcome = OutputOutcome::leftAloneWithMessage};
    return emptyOrLetGo(fd, input, existed);
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
