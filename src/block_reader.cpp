#include "block_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <optional>

#include "gc_count.hpp"

namespace gcwindow {

namespace {

// Whether a call that failed with this errno should just be made again: an
// interrupted call, or a non-blocking input (as some job runners leave standard
// input) that has nothing yet, once poll() says it has.
bool worthRetrying(int error, int fd) {
    if (error == EINTR) return true;
    if (error != EAGAIN && error != EWOULDBLOCK) return false;
    pollfd ready{.fd = fd, .events = POLLIN, .revents = 0};
    int polled = 0;
    do {
        polled = poll(&ready, 1, -1);
    } while (polled < 0 && (errno == EINTR || errno == EAGAIN));
    return polled > 0;
}

// A mapped file that another process truncates raises SIGBUS at the first
// page past its new end, even after the pages were populated. The handler
// jumps out of the count, and the caller reads the chunk instead, which gives
// what the file holds at that moment, or the read error.
sigjmp_buf* volatile countingMapped = nullptr;

void leaveMappedCount(int signal) {
    if (countingMapped != nullptr) siglongjmp(*countingMapped, 1);
    std::signal(signal, SIG_DFL);  // not ours: fault again, and die of it
}

std::uint64_t nanosecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace

std::optional<Counted> countMapped(std::span<const unsigned char> bytes) {
    static const bool handled = [] {
        struct sigaction action {};
        action.sa_handler = leaveMappedCount;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGBUS, &action, nullptr) == 0;
    }();
    if (!handled || bytes.empty()) return std::nullopt;
    // Held in statics, which a jump back cannot leave stale, as it may a
    // local kept in a register.
    static sigjmp_buf jump;
    static std::span<const unsigned char> counting;
    counting = bytes;
    if (sigsetjmp(jump, 1) != 0) {
        countingMapped = nullptr;
        return std::nullopt;
    }
    countingMapped = &jump;
    const Counted counted{counting.size(), countGc(counting), counting.back()};
    countingMapped = nullptr;
    return counted;
}

BlockReader::BlockReader(int fd, mode_t kind, std::span<unsigned char> buffer, Way way, std::size_t chunk)
    : fd_(fd), kind_(kind), buffer_(buffer), way_(S_ISREG(kind) ? way : Way::copy), chunk_(chunk) {}

// Counting a mapped chunk in place spares the copy that read() makes, and
// saves up to half the time where the page cache holds the file in large
// folios (written in large pieces, or read back from disk); over 4 KiB pages
// mapping can cost more than the copy, depending on the machine. Nothing
// tells a program how its file's pages are held, so the first chunks are
// counted both ways in turn, timed, and the faster way counts the rest. A
// window too short for the trial to pay is read.
Counted BlockReader::countNext(std::size_t limit) {
    if (atEnd_) return {};
    constexpr int trialChunks = 4;
    if (way_ == Way::choose && trialChunks_ == 0 && limit < trialChunks * chunk_) way_ = Way::copy;
    if (way_ == Way::copy) return copyAndCount(limit);
    if (way_ == Way::map) return mapAndCount(limit);

    const bool mapped = trialChunks_ % 2 == 0;
    const auto start = std::chrono::steady_clock::now();
    Counted counted = mapped ? mapAndCount(limit) : Counted{};
    while (!mapped && counted.bytes < std::min(limit, chunk_)) {
        const Counted more = copyAndCount(std::min(limit, chunk_) - counted.bytes);
        if (more.bytes == 0) break;
        counted = {counted.bytes + more.bytes, counted.gc + more.gc, more.last};
    }
    trialNanoseconds_[mapped ? 0 : 1] += nanosecondsSince(start);
    if (++trialChunks_ == trialChunks) way_ = trialNanoseconds_[0] < trialNanoseconds_[1] ? Way::map : Way::copy;
    return counted;
}

Counted BlockReader::copyAndCount(std::size_t limit) {
    const auto block = read(limit);
    if (block.empty()) return {};
    return {block.size(), countGc(block), block.back()};
}

// Maps at most one chunk at the current position, never past the file's
// current end, counts it in place and unmaps it, so that neither memory nor
// address space grows with the file. Whatever goes wrong (the mapping is
// refused, a page cannot be read in, the file shrank) is left to read(),
// which reports it or reads what is there.
Counted BlockReader::mapAndCount(std::size_t limit) {
#if defined(MADV_POPULATE_READ)
    struct stat status {};
    const long page = sysconf(_SC_PAGESIZE);
    if (fstat(fd_, &status) != 0 || page <= 0 || static_cast<std::uint64_t>(status.st_size) <= position_) {
        return copyAndCount(limit);
    }
    const std::uint64_t start = position_ - position_ % static_cast<std::uint64_t>(page);
    const auto head = static_cast<std::size_t>(position_ - start);
    const auto length = static_cast<std::size_t>(
        std::min<std::uint64_t>({limit, chunk_, static_cast<std::uint64_t>(status.st_size) - position_}));
    void* const mapping = mmap(nullptr, head + length, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(start));
    if (mapping == MAP_FAILED) return copyAndCount(limit);
    std::optional<Counted> counted;
    // Populating in one call takes the pages in batches and fails, rather
    // than faulting, where a page is past the end or cannot be read.
    if (madvise(mapping, head + length, MADV_POPULATE_READ) == 0) {
        counted = countMapped({static_cast<const unsigned char*>(mapping) + head, length});
    }
    munmap(mapping, head + length);
    if (!counted) return copyAndCount(limit);
    position_ += length;
    return *counted;
#else
    return copyAndCount(limit);
#endif
}

// A regular file is read at the position counted so far, which mapped
// chunks pass without moving the file offset.
std::span<const unsigned char> BlockReader::read(std::size_t limit) {
    if (atEnd_) return {};
    const std::size_t wanted = std::min(limit, buffer_.size());
    ssize_t got = 0;
    do {
        got = S_ISREG(kind_) ? ::pread(fd_, buffer_.data(), wanted, static_cast<off_t>(position_))
                             : ::read(fd_, buffer_.data(), wanted);
    } while (got < 0 && worthRetrying(errno, fd_));
    if (got <= 0) {
        atEnd_ = true;
        failed_ = got < 0;
        return {};
    }
    position_ += static_cast<std::uint64_t>(got);
    return buffer_.first(static_cast<std::size_t>(got));
}

// The answer is already out when this runs, so a read that fails here only
// ends the drain early.
void BlockReader::drain() {
    if (atEnd_ || (!S_ISFIFO(kind_) && !S_ISSOCK(kind_))) return;
    if (S_ISFIFO(kind_) && spliceToNull()) return;
    while (!read(buffer_.size()).empty()) {
    }
}

// Moves the rest of a pipe into /dev/null inside the kernel, never copying
// it through the buffer. False where splice cannot be used or fails, and the
// caller reads the rest instead.
bool BlockReader::spliceToNull() {
    // A pipe of the largest size any user may ask for (Linux's default
    // pipe-max-size): the writer wakes us a sixteenth as often. Refusal is harmless.
    fcntl(fd_, F_SETPIPE_SZ, 1 << 20);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink < 0) return false;
    ssize_t moved = 0;
    do {
        moved = splice(fd_, nullptr, sink, nullptr, INT_MAX, SPLICE_F_MOVE);
    } while (moved > 0 || (moved < 0 && worthRetrying(errno, fd_)));
    close(sink);
    atEnd_ = moved == 0;
    return atEnd_;
}

}  // namespace gcwindow
