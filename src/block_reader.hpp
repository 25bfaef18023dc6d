#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace gcwindow {

// The GC bytes among the next bytes of an input.
struct Counted {
    std::size_t bytes = 0;  // 0 once the input has ended or failed
    std::size_t gc = 0;
    unsigned char last = 0;  // the last of them, when there are any
};

// Counts the bytes of a mapped file in place. Nothing, instead of a SIGBUS
// that would kill the process, where the file beneath has shrunk (another
// process truncated it) or a page cannot be read in.
std::optional<Counted> countMapped(std::span<const unsigned char> bytes);

// Reads a file descriptor in blocks and counts their GC bytes, in memory that
// stays the same whatever the length of the input: one caller-owned buffer,
// and for a long stretch of a regular file, counted by a few threads at once,
// one block or one mapped chunk per thread.
class BlockReader {
  public:
    // How a regular file's bytes reach the count. `choose` times both ways
    // on the first chunks and keeps the faster; the others are for tests.
    enum class Way { choose, map, copy };

    // `kind` is the input's file type (st_mode), learnt when it was opened.
    BlockReader(int fd, mode_t kind, std::span<unsigned char> buffer, Way way = Way::choose,
                std::size_t chunk = std::size_t{2} << 20);

    // Counts the next bytes of the input, at most `limit` of them. Nothing
    // once the input has ended or a read has failed, and from then on;
    // failed() tells which. An input with nothing to read yet (non-blocking)
    // is waited for.
    Counted countNext(std::size_t limit);
    bool failed() const { return failed_; }

    // Reads a pipe or socket to its end, so that the process writing into it
    // is never cut off. A regular file or a device is left alone: nobody can
    // tell whether a file's tail was read, and /dev/zero never ends.
    void drain();

  private:
    std::span<const unsigned char> read(std::size_t limit);
    Counted copyAndCount(std::size_t limit);
    Counted countAll(Way way, std::size_t limit);
    struct Piece;
    struct Stretch;
    Counted countInParallel(std::size_t limit);
    void countPieces(Stretch& stretch, std::optional<Piece> piece);
    Counted mapAndCount(std::size_t limit);
    bool spliceToNull();

    int fd_;
    mode_t kind_;
    std::span<unsigned char> buffer_;
    Way way_;
    std::size_t chunk_;
    std::uint64_t position_ = 0;                  // bytes of the input counted so far
    std::uint64_t trialNanoseconds_[2] = {0, 0};  // mapped, copied
    int trialChunks_ = 0;
    bool splits_ = true;  // whether a long stretch may still be counted in parallel
    bool atEnd_ = false;
    bool failed_ = false;
};

}  // namespace gcwindow
