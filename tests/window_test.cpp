// The window text against strtoll; the window measure and the threaded
// count, run over memory files, against the model that takes one byte per
// window position.

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "memory_file.hpp"
#include "naive_model.hpp"
#include "parallel_count.hpp"

namespace {

std::string randomInput(std::mt19937& random) {
    static const std::string sequenceBytes = "ACGTacgtNnSs\n\r>";
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 3000)(random);
    const bool anyByte = random() % 4 == 0;
    std::string input(length, '\0');
    for (char& byte : input) {
        byte = anyByte ? static_cast<char>(random() % 256) : sequenceBytes[random() % sequenceBytes.size()];
    }
    return input;
}

std::int64_t randomWindow(std::mt19937& random, std::size_t inputLength) {
    const auto length = static_cast<std::int64_t>(inputLength);
    switch (random() % 7) {
        case 0:
            return std::uniform_int_distribution<std::int64_t>(-3, 0)(random);
        case 1:
            return length;
        case 2:
            return length + std::uniform_int_distribution<std::int64_t>(1, 4000)(random);
        case 3:  // where the counts are rounded to single precision
            return std::uniform_int_distribution<std::int64_t>(1 << 24, 2147483647)(random);
        case 4:  // beyond 32 bits, up to the largest window
            return std::uniform_int_distribution<std::int64_t>(2147483648,
                                                               std::numeric_limits<std::int64_t>::max())(random) >>
                   (random() % 32);
        default:
            return std::uniform_int_distribution<std::int64_t>(1, std::max<std::int64_t>(length, 1))(random);
    }
}

// Texts of white space, signs, digit runs (past 19 digits too, and about
// the limits) and other bytes, in any order: read as strtoll reads base 10,
// which saturates at the 64-bit limits.
TEST(WindowText, ReadsAsStrtollDoes) {
    std::mt19937 random(20261210);
    for (int trial = 0; trial < 5000; ++trial) {
        std::string text;
        for (auto parts = random() % 6; parts > 0; --parts) {
            switch (random() % 8) {
                case 0:
                case 1:
                    text += " \t\n\v\f\r"[random() % 6];
                    break;
                case 2:
                    text += "+-"[random() % 2];
                    break;
                case 3:
                case 4:
                    for (auto digits = 1 + random() % 30; digits > 0; --digits) {
                        text += static_cast<char>('0' + random() % 10);
                    }
                    break;
                case 5:  // 9223372036854775800 to ...809, about 2^63
                    text += "922337203685477580" + std::to_string(random() % 10);
                    break;
                default:
                    text += static_cast<char>(1 + random() % 255);
            }
        }
        ASSERT_EQ(gcwindow::parseWindow(text.c_str()), std::strtoll(text.c_str(), nullptr, 10)) << '"' << text << '"';
    }
}

// Blocks of one byte to a page: the count is carried across every block edge.
TEST(FirstWindow, MatchesTheModelAcrossBlockEdges) {
    constexpr std::array<std::size_t, 5> blockSizes{1, 3, 7, 64, 4096};
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::string input = randomInput(random);
        const std::int64_t window = randomWindow(random, input.size());
        const std::size_t blockSize = blockSizes[trial % blockSizes.size()];

        const Measured measured = measureInMemory(input, window, blockSize);

        ASSERT_EQ(measured.line, naive::resultLine(input, window))
            << "length " << input.size() << ", window " << window << ", block " << blockSize;
        // The stream may hold more unless a read found its end inside the window.
        ASSERT_EQ(measured.keepGoing, window <= 0 || input.size() >= static_cast<std::uint64_t>(window));
    }
}

TEST(FirstWindow, EveryByteValueOnceCountsFourOf256) {
    std::string everyByte;
    for (int value = 0; value < 256; ++value) everyByte += static_cast<char>(value);
    EXPECT_EQ(measureInMemory(everyByte, 256, 4096).line, "0.015625\n");
}

// Pieces and blocks far shorter than the tool's, so that small inputs are
// shared out: whether the threads are tried (where the file, not the window,
// holds two pieces), what they count, and where they leave the file offset
// for reading in order to go on from.
TEST(ParallelCount, MatchesTheModelAndLeavesTheOffsetAfterTheStretch) {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0 || CPU_COUNT(&cpus) < 2) GTEST_SKIP() << "one CPU: no threads";
    struct Reading {
        std::size_t shortest;
        std::size_t blockSize;
    };
    constexpr std::array<Reading, 5> readings{{{1, 1}, {7, 7}, {40, 3}, {500, 64}, {16, 4096}}};
    std::mt19937 random(20261209);
    int counted = 0;
    for (int trial = 0; trial < 500; ++trial) {
        const std::string input = randomInput(random);
        const std::uint64_t limit = trial % 3 == 0
                                        ? std::numeric_limits<std::int64_t>::max()
                                        : std::uniform_int_distribution<std::uint64_t>(0, input.size() + 100)(random);
        const auto [shortest, blockSize] = readings[trial % readings.size()];
        const int fd = memoryFile(input);
        // Every other file comes already read into, as macOS's /dev/stdin may.
        const std::size_t start = trial % 2 == 0 ? 0 : random() % (input.size() + 1);
        lseek(fd, static_cast<off_t>(start), SEEK_SET);

        // As many threads as the CPUs give, or 3, 6 or 9: more than the count takes.
        const gcwindow::ParallelCount count = gcwindow::countFileStart(fd, limit, shortest, blockSize, trial % 4 * 3);

        const auto stretch = static_cast<std::size_t>(std::min<std::uint64_t>(limit, input.size() - start));
        // Nothing changes a memory file meanwhile: each stretch it tries, it counts.
        const auto expected = stretch < 2 * shortest ? gcwindow::Parallel::notTried : gcwindow::Parallel::counted;
        ASSERT_EQ(count.outcome, expected) << stretch << " bytes from " << start;
        if (count.outcome == gcwindow::Parallel::counted) {
            ++counted;
            ASSERT_EQ(count.counted.bytes, stretch);
            ASSERT_EQ(count.counted.gc,
                      naive::gcPositions(input.substr(start, stretch), static_cast<std::int64_t>(stretch)));
            ASSERT_EQ(count.counted.last, static_cast<unsigned char>(input[start + stretch - 1]));
            ASSERT_EQ(lseek(fd, 0, SEEK_CUR), static_cast<off_t>(start + stretch));
        }
        close(fd);
    }
    EXPECT_GT(counted, 200);
}

}  // namespace
