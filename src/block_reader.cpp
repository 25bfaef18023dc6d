#include "block_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

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
thread_local sigjmp_buf* volatile countingMapped = nullptr;

void leaveMappedCount(int signal) {
    if (countingMapped != nullptr) siglongjmp(*countingMapped, 1);
    std::signal(signal, SIG_DFL);  // not ours: fault again, and die of it
}

// How many threads count a long stretch: one for each core this process may
// run on (a job scheduler or taskset may give it fewer than the machine has),
// and one more, which keeps the cores busy while a thread is between pieces:
// on two cores, three threads take 0.50 of cat's time and two 0.54, and four
// gain nothing over three. At most four, since memory, not cores, bounds the
// count beyond that. With one core, one thread.
unsigned countingThreads() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) != 0 || CPU_COUNT(&cores) < 2) return 1;
    return static_cast<unsigned>(std::min(CPU_COUNT(&cores) + 1, 4));
}

// Room for one block per counting thread, in 2 MiB huge pages where the
// kernel gives them: on a VM that traps each fault, one huge page is faulted
// in at a tenth of the cost of 512 small ones, and copies into it miss the
// TLB less (0.51 of cat's time against 0.52 in small pages).
class ThreadBlocks {
  public:
    explicit ThreadBlocks(std::size_t bytes) {
        constexpr std::size_t hugePage = std::size_t{2} << 20;
        length_ = (bytes + hugePage - 1) / hugePage * hugePage + hugePage;
        mapping_ = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping_ == MAP_FAILED) return;
        const auto address = reinterpret_cast<std::uintptr_t>(mapping_);
        auto* const aligned = static_cast<unsigned char*>(mapping_) + (hugePage - address % hugePage) % hugePage;
#if defined(MADV_HUGEPAGE)
        madvise(aligned, length_ - hugePage, MADV_HUGEPAGE);  // a refusal leaves small pages
#endif
        blocks_ = {aligned, bytes};
    }
    ~ThreadBlocks() {
        if (mapping_ != MAP_FAILED) munmap(mapping_, length_);
    }
    ThreadBlocks(const ThreadBlocks&) = delete;
    ThreadBlocks& operator=(const ThreadBlocks&) = delete;
    bool empty() const { return blocks_.empty(); }
    std::span<unsigned char> all() const { return blocks_; }

  private:
    void* mapping_ = MAP_FAILED;
    std::size_t length_ = 0;
    std::span<unsigned char> blocks_;
};

// The processor time this thread has used: unlike the clock on the wall, it
// does not run on while the thread waits for a core that another thread
// holds, which would make either way look slow at random.
std::uint64_t threadNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000U + static_cast<std::uint64_t>(now.tv_nsec);
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
    // local kept in a register; one of each for every thread that counts.
    static thread_local sigjmp_buf jump;
    static thread_local std::span<const unsigned char> counting;
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
// folios (written in large pieces, or read back from disk); over small
// folios, or where the hypervisor traps each new page mapping, mapping costs
// up to several times the copy. Nothing tells a program how its file's pages
// are held, so the first chunks are counted both ways in turn, timed in the
// thread's own processor time, and the faster way counts the rest. The first
// is read untimed: it faults the buffer's pages in, which is paid once, not
// per byte. A window too short for the trial to pay is read.
Counted BlockReader::countNext(std::size_t limit) {
    if (atEnd_) return {};
    const std::size_t longStretch = 16 * chunk_;
    if (splits_ && S_ISREG(kind_) && limit >= longStretch) return countInParallel(limit);
    if (splits_ && way_ == Way::choose && trialChunks_ == 0 && limit < longStretch) way_ = Way::copy;
    if (way_ == Way::map) return mapAndCount(limit);
    if (way_ == Way::copy) return copyAndCount(limit);

    constexpr int trialChunks = 5;
    const bool mapped = trialChunks_ % 2 == 1;
    const std::uint64_t start = threadNanoseconds();
    const Counted counted = countAll(mapped ? Way::map : Way::copy, std::min(limit, chunk_));
    if (trialChunks_ > 0) trialNanoseconds_[mapped ? 0 : 1] += threadNanoseconds() - start;
    if (++trialChunks_ == trialChunks) way_ = trialNanoseconds_[0] < trialNanoseconds_[1] ? Way::map : Way::copy;
    return counted;
}

// Counts `limit` bytes, or up to the end of the input, in as many chunks or
// blocks as it takes: one way, or (`way` choose) as countNext decides.
Counted BlockReader::countAll(Way way, std::size_t limit) {
    Counted counted;
    while (counted.bytes < limit) {
        const std::size_t rest = limit - counted.bytes;
        const Counted more = way == Way::map    ? mapAndCount(rest)
                             : way == Way::copy ? copyAndCount(rest)
                                                : countNext(rest);
        if (more.bytes == 0) break;
        counted = {counted.bytes + more.bytes, counted.gc + more.gc, more.last};
    }
    return counted;
}

struct BlockReader::Piece {
    std::uint64_t offset;  // from the stretch's start
    std::size_t length;
};

// A long stretch of a file, cut in pieces that the counting threads take in
// turn, each as soon as it is done with the last. Each piece is a sixth of
// what is left (with three threads), and at least `piece`: long runs at first,
// which a disk reads ahead well, then short ones, so that the threads end
// together. Equal 16 MiB pieces took 1.01 to 1.14 of cat's time on a file
// evicted from the cache, these 0.88 to 1.08, and 0.47 against 0.45 cached.
struct BlockReader::Stretch {
    std::uint64_t start;
    std::uint64_t length;
    std::size_t piece;  // the shortest, a whole number of chunks
    std::size_t chunk;
    unsigned threads;
    std::atomic<std::uint64_t> taken{0};
    std::atomic<Way> way{Way::copy};      // the trial's choice, once it is made
    std::atomic<bool> shortPiece{false};  // the file shrank while it was read
    std::atomic<bool> failed{false};      // a read failed
    std::atomic<std::size_t> gc{0};
    std::atomic<unsigned char> last{0};

    std::optional<Piece> take() {
        std::uint64_t offset = taken;
        std::size_t size = 0;
        do {
            if (offset >= length) return std::nullopt;
            const std::uint64_t rest = length - offset;
            size = static_cast<std::size_t>(
                std::min(std::max<std::uint64_t>(rest / (std::uint64_t{2} * threads) / chunk * chunk, piece), rest));
        } while (!taken.compare_exchange_weak(offset, offset + size));
        return Piece{offset, size};
    }
};

// One core copying from the page cache gets about two thirds of what memory
// delivers, so a long stretch of a regular file is counted by several
// threads, each into its own block. The first thread runs the trial on its
// first piece while the others copy. A read that fails ends the input as a
// failure, as it does read in order. Where a piece comes short (the file
// shrank meanwhile), the stretch is counted again in order by this thread
// alone, which finds the file's end where reading in order finds it.
Counted BlockReader::countInParallel(std::size_t limit) {
    splits_ = false;
    const unsigned threads = countingThreads();
    struct stat status {};
    if (threads < 2 || fstat(fd_, &status) != 0 || static_cast<std::uint64_t>(status.st_size) <= position_) {
        return countNext(limit);
    }
    ThreadBlocks blocks(threads * buffer_.size());
    if (blocks.empty()) return countNext(limit);
    Stretch stretch{.start = position_,
                    .length = std::min<std::uint64_t>(limit, static_cast<std::uint64_t>(status.st_size) - position_),
                    .piece = 8 * chunk_,
                    .chunk = chunk_,
                    .threads = threads};
    if (way_ != Way::choose) stretch.way = way_;
    std::vector<BlockReader> readers;
    readers.reserve(threads);
    for (unsigned thread = 0; thread < threads; ++thread) {
        readers.emplace_back(fd_, kind_, blocks.all().subspan(thread * buffer_.size(), buffer_.size()),
                             thread == 0 ? way_ : Way::copy, chunk_);
        readers.back().splits_ = false;
    }
    // The first thread takes the first piece before the others start, so
    // that the trial runs where the mapped chunks start on 2 MiB boundaries.
    const std::optional<Piece> first = stretch.take();
    std::vector<std::thread> helpers;
    helpers.reserve(threads);
    for (unsigned thread = 1; thread < threads; ++thread) {
        try {
            helpers.emplace_back(
                [&stretch, &reader = readers[thread]] { reader.countPieces(stretch, stretch.take()); });
        } catch (const std::system_error&) {
            break;  // fewer threads take more pieces each
        }
    }
    readers.front().countPieces(stretch, first);
    for (std::thread& helper : helpers) helper.join();
    if (stretch.failed) {
        atEnd_ = failed_ = true;
        return {};
    }
    if (stretch.shortPiece) return countNext(limit);
    position_ += stretch.length;
    return {static_cast<std::size_t>(stretch.length), stretch.gc, stretch.last};
}

// Counts `piece`, then takes more pieces of `stretch` until there are none
// left or one came short or failed; each is counted the way the trial chose,
// and the first thread runs the trial itself.
void BlockReader::countPieces(Stretch& stretch, std::optional<Piece> piece) {
    std::size_t gc = 0;
    for (; piece; piece = stretch.shortPiece || stretch.failed ? std::nullopt : stretch.take()) {
        position_ = stretch.start + piece->offset;
        const bool trying = way_ == Way::choose;
        const Counted counted = countAll(trying ? Way::choose : stretch.way.load(), piece->length);
        if (trying && way_ != Way::choose) stretch.way = way_;
        if (counted.bytes != piece->length) {
            (failed_ ? stretch.failed : stretch.shortPiece) = true;
            break;
        }
        gc += counted.gc;
        if (piece->offset + piece->length == stretch.length) stretch.last = counted.last;
    }
    stretch.gc += gc;
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
