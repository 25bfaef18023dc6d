#include "parallel_count.hpp"

#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <span>

#include "gc_count.hpp"

namespace gcwindow {

namespace {

// At most four: memory, not cores, bounds the count beyond that; each has
// its own block and slot below.
constexpr unsigned maxThreads = 4;

// How many threads count a long stretch: one for each CPU this process may
// run on (a job scheduler or taskset may give it fewer than the machine has),
// and one more, which keeps the CPUs busy while a thread is between pieces.
// With one CPU, one thread.
unsigned countingThreads() {
#if defined(CPU_COUNT)
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    const long usable = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
#else
    const long usable = sysconf(_SC_NPROCESSORS_ONLN);
#endif
    return usable < 2 ? 1 : static_cast<unsigned>(usable + 1);
}

// When the file's data and its inode last changed; macOS names them apart.
#if defined(__APPLE__)
const timespec& modified(const struct stat& status) { return status.st_mtimespec; }
const timespec& changed(const struct stat& status) { return status.st_ctimespec; }
#else
const timespec& modified(const struct stat& status) { return status.st_mtim; }
const timespec& changed(const struct stat& status) { return status.st_ctim; }
#endif

bool same(const timespec& one, const timespec& other) {
    return one.tv_sec == other.tv_sec && one.tv_nsec == other.tv_nsec;
}

// Whether the file was written between the two looks at it, as far as its
// size and times tell.
bool changedBetween(const struct stat& before, const struct stat& after) {
    return before.st_size != after.st_size || !same(modified(before), modified(after)) ||
           !same(changed(before), changed(after));
}

// A stretch of the file for one thread to count; none left once its length is 0.
// Offsets and lengths are 64-bit on every target: a stretch may pass 4 GiB.
struct Piece {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    explicit operator bool() const { return length > 0; }
};

// A long stretch of a file, cut in pieces that the threads take in turn, each
// as soon as it is done with the last. Each piece is a sixth of what is left
// (with three threads), in whole blocks, and at least `shortest`: long runs
// at first, which a disk reads ahead well, then short ones, so that the
// threads end together.
struct Stretch {
    int fd;
    std::uint64_t start;  // the file offset the stretch begins at
    std::uint64_t length;
    std::uint64_t shortest;
    std::size_t blockSize;
    unsigned threads;
    // Lock-free on 32-bit x86 too (cmpxchg8b): no libatomic is loaded.
    std::atomic<std::uint64_t> taken{0};
    std::atomic<bool> stop{false};  // a piece came short or failed: take no more
    unsigned char last = 0;         // written by the one thread that counts the last piece

    Piece take() {
        std::uint64_t offset = taken;
        std::uint64_t size = 0;
        do {
            if (offset >= length) return {};
            const std::uint64_t rest = length - offset;
            size = std::min(std::max(rest / (std::uint64_t{2} * threads) / blockSize * blockSize, shortest), rest);
        } while (!taken.compare_exchange_weak(offset, offset + size));
        return Piece{offset, size};
    }

    Piece next() { return stop ? Piece{} : take(); }
};

// Reads at most `wanted` bytes at `offset` into `into`, never moving the
// file offset, so that the threads can share the descriptor. An interrupted
// read is made again; a regular file that says it would block is never
// ready, so that is a failure.
ssize_t readAt(int fd, unsigned char* into, std::size_t wanted, std::uint64_t offset) {
    ssize_t got = 0;
    do {
        got = pread(fd, into, wanted, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    return got;
}

// One thread's share: the pieces it takes, read into its own block.
struct Counter {
    Stretch* stretch = nullptr;
    std::span<unsigned char> block;
    std::uint64_t gc = 0;
    bool countAgain = false;
    bool failed = false;

    // Another thread's trouble is looked at only between pieces, so a piece
    // once taken is always counted. A file that refuses reads at offsets
    // (ESPIPE) is counted again in order, as one that came short is.
    void countPieces(Piece piece) {
        for (; piece; piece = stretch->next()) {
            for (std::uint64_t done = 0; done < piece.length;) {
                const auto wanted =
                    static_cast<std::size_t>(std::min<std::uint64_t>(piece.length - done, block.size()));
                const ssize_t got = readAt(stretch->fd, block.data(), wanted, stretch->start + piece.offset + done);
                if (got <= 0) {
                    // ESPIPE, or an early end: counted again in order.
                    const bool readFailed = got < 0 && errno != ESPIPE;
                    failed = readFailed;
                    countAgain = !readFailed;
                    stretch->stop = true;
                    return;
                }
                // Raw indices: span's checked ones, where the C++ library's
                // assertions are on, would call into that library.
                const auto bytes = static_cast<std::size_t>(got);
                gc += countGc({block.data(), bytes});
                done += bytes;
                if (piece.offset + done == stretch->length) stretch->last = block.data()[bytes - 1];
            }
        }
    }
};

void* countInHelper(void* counter) {
    auto* const self = static_cast<Counter*>(counter);
    self->countPieces(self->stretch->next());
    return nullptr;
}

}  // namespace

// One core copying from the page cache gets about two thirds of what memory
// delivers, so a long stretch is counted by several threads, each into its
// own block. No thread allocates or throws: one that cannot be started
// leaves its pieces to the others.
ParallelCount countFileStart(int fd, std::uint64_t limit, std::size_t shortest, std::size_t blockSize,
                             unsigned wanted) {
    if (limit < 2 * shortest) return {};
    struct stat before {};
    if (fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) return {};
    // Where reading in order would start: the file's start, unless the
    // descriptor came already read into (macOS's /dev/stdin shares it).
    const off_t start = lseek(fd, 0, SEEK_CUR);
    if (start < 0 || start > before.st_size) return {};
    const std::uint64_t length = std::min<std::uint64_t>(limit, static_cast<std::uint64_t>(before.st_size - start));
    if (length < 2 * shortest) return {};
    const unsigned threads = std::min(wanted != 0 ? wanted : countingThreads(), maxThreads);
    if (threads < 2) return {};

    alignas(64) static unsigned char blocks[maxThreads][blockBytes];
    Stretch stretch{.fd = fd,
                    .start = static_cast<std::uint64_t>(start),
                    .length = length,
                    .shortest = shortest,
                    .blockSize = std::min(blockSize, blockBytes),
                    .threads = threads};
    Counter counters[maxThreads];
    for (unsigned thread = 0; thread < threads; ++thread) {
        counters[thread] = {.stretch = &stretch, .block = {blocks[thread], stretch.blockSize}};
    }
    // This thread takes the first piece before the others start, so that it
    // counts a piece whatever they meet.
    const Piece first = stretch.take();
    pthread_t helpers[maxThreads];
    unsigned running = 1;
    while (running < threads && pthread_create(&helpers[running], nullptr, countInHelper, &counters[running]) == 0) {
        ++running;
    }
    counters[0].countPieces(first);
    for (unsigned thread = 1; thread < running; ++thread) pthread_join(helpers[thread], nullptr);

    std::uint64_t gc = 0;
    bool countAgain = false;
    bool failed = false;
    for (unsigned thread = 0; thread < running; ++thread) {
        gc += counters[thread].gc;
        countAgain = countAgain || counters[thread].countAgain;
        failed = failed || counters[thread].failed;
    }
    if (failed) return {.outcome = Parallel::failed};
    struct stat after {};
    const off_t end = start + static_cast<off_t>(length);
    if (countAgain || fstat(fd, &after) != 0 || changedBetween(before, after) || lseek(fd, end, SEEK_SET) != end) {
        return {.outcome = Parallel::countAgain};
    }
    return {.outcome = Parallel::counted, .counted = {length, gc, stretch.last}};
}

}  // namespace gcwindow
