// gcwindow SEQFILE WINDOW OUTPUT: the GC share of the first WINDOW bytes of
// SEQFILE, printed on standard output. OUTPUT is created or emptied and left
// empty. Every message goes to standard output; nothing goes to standard error.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>

#include "block_reader.hpp"
#include "window.hpp"
#include "write_whole.hpp"

namespace {

using gcwindow::BlockReader;

// The usage text, after "Usage: " and the name the tool was invoked by.
constexpr const char* usageAfterName =
    " assemblyFile.fasta runningWindow output\n"
    "Finds the running window GC content in a fasta file\n"
    "Just sequence! No gene name/info!\n";

struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const struct stat& status) { return {status.st_dev, status.st_ino}; }

// The input as opened: what main needs to read it, and to keep the output
// from ever being it.
struct Input {
    int fd = -1;  // -1 when it is not to be read
    mode_t kind = 0;
    std::optional<FileIdentity> identity;  // the file the path names, if it names one
    bool identityUnknown = false;          // whether it does could not be learnt
};

// Errors of stat() that say the path names no file at all, so no output
// can be that file. A name too long or with too many links may still name
// one by another path: its identity is unknown, not absent.
bool namesNoFile(int error) { return error == ENOENT || error == ENOTDIR; }

// Whether descriptor `stream` is open on the file that `status` describes.
bool isOpenOn(int stream, const struct stat& status) {
    struct stat streamStatus {};
    return fstat(stream, &streamStatus) == 0 && identityOf(streamStatus) == identityOf(status);
}

// A directory opens on Linux, but every read of it fails, so it is refused
// like a missing file rather than measured as if it held data. Even an input
// that would not open is looked up, so that a file we may not read is still
// never emptied by being named as the output too; and where the file cannot
// be identified, it is not read and the output is left alone. Linux opens no
// socket by name, so standard input's, named as /dev/stdin, is read where it
// already is open.
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

// OUTPUT once opened: its descriptor, held to the end of the run (-1 where
// there is none), and whether it failed in a way that is worth a message.
struct Output {
    int fd = -1;
    bool failed = true;
};

// Creates or empties the output. Nothing is ever written to it, so nothing
// is waited for either: a FIFO with no reader, or a device that waits on
// open, fails at once. A regular file that is the input itself (the same
// path, a hard link or a symbolic link) is refused: emptying it would
// destroy the sequence before it is read. A standard stream's file is left
// as it is, with no message, which would land among the results there; so
// is one that will not open (a socket, a FIFO with no reader), by what its
// path names. The identity is taken from the opened file, so a link swapped
// in between cannot slip past.
Output openOutput(const char* path, std::optional<FileIdentity> input) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    struct stat status {};
    if (fd < 0) return {.failed = stat(path, &status) != 0 || !isAStandardStream(status, -1)};
    const bool refused = fstat(fd, &status) != 0 ||
                         (S_ISREG(status.st_mode) &&
                          (identityOf(status) == input || (!isAStandardStream(status, fd) && ftruncate(fd, 0) != 0)));
    if (refused) {
        close(fd);
        return {};
    }
    return {.fd = fd, .failed = false};
}

// Reads the window length as strtol reads base 10 (leading white space, one
// sign, digits up to the first non-digit, no digits gives 0) but saturates at
// the 32-bit limits, where keeping the low bits would turn 4294967396 into 100.
std::int32_t parseWindow(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = std::min(magnitude * 10 + (*text - '0'), limit);
    }
    const std::int64_t value = negative ? -magnitude : std::min(magnitude, limit - 1);
    return static_cast<std::int32_t>(value);
}

// With standard output or error closed, the files opened below would take
// their descriptor numbers, and the result line would land in the output
// file. The read end of a pipe holds each closed number instead: a write to
// it fails, as to a closed descriptor, and reaches no file, and it needs no
// /dev/null, which a bare chroot or sandbox may lack. False where standard
// output could not be held.
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

bool outputFailed = false;

// Every line goes out whole, at once: nothing is held back to be lost later.
template <typename... Pieces>
void say(Pieces... pieces) {
    if (!gcwindow::writeWhole(STDOUT_FILENO, pieces...)) outputFailed = true;
}

// Standard output that could not be written (a full disk, say) is a failure
// whatever the run's own status.
int finish(int status) { return outputFailed ? 1 : status; }

}  // namespace

int main(int argc, char* argv[]) {
    // Nothing can be said where standard output could be a file's descriptor.
    if (!holdClosedStandardStreams()) return 1;
    if (argc < 4) {
        say("Usage: ", argc > 0 && argv[0] != nullptr ? argv[0] : "gcwindow", usageAfterName);
        return finish(0);
    }
    const char* inputPath = argv[argc - 3];
    const char* windowText = argv[argc - 2];
    const char* outputPath = argv[argc - 1];

    const Input input = openInput(inputPath);
    if (input.fd < 0) say("Error! Could not open the first input file: ", inputPath, "\n");
    const Output fout = input.identityUnknown ? Output{} : openOutput(outputPath, input.identity);
    if (fout.failed) say("Error! Could not open the output file: ", outputPath, "\n");
    const std::int32_t runningWindow = parseWindow(windowText);

    // There is nothing to measure in an input that never opened.
    if (input.fd < 0 && runningWindow > 0) return finish(1);

    alignas(64) static unsigned char buffer[gcwindow::blockBytes];
    BlockReader ins(input.fd, input.kind, buffer);
    const gcwindow::FirstWindow window = gcwindow::measureFirstWindow(ins, runningWindow);
    if (window.readFailed) {
        say("Error! Could not read the first input file: ", inputPath, "\n");
        return finish(1);
    }
    // The answer is out before a slow writer is drained.
    say(gcwindow::resultLine(window.gcTot, runningWindow).text);
    if (input.fd >= 0 && window.keepGoing) ins.drain();
    return finish(0);
}
