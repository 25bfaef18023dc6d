// The window measure and the threaded count, run over memory files, against
// the model that takes one byte per window position.

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <array>
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

std::int32_t randomWindow(std::mt19937& random, std::size_t inputLength) {
    const auto length = static_cast<std::int32_t>(inputLength);
    switch (random() % 6) {
        case 0:
            return std::uniform_int_distribution<std::int32_t>(-3, 0)(random);
        case 1:
            return length;
        case 2:
            return length + std::uniform_int_distribution<std::int32_t>(1, 4000)(random);
        case 3:  // where the counts are rounded to single precision
            return std::uniform_int_distribution<std::int32_t>(1 << 24, 2147483647)(random);
        default:
            return std::uniform_int_distribution<std::int32_t>(1, std::max(length, 1))(random);
    }
}

// Blocks of one byte to a page: the count is carried across every block edge.
TEST(FirstWindow, MatchesTheModelAcrossBlockEdges) {
    constexpr std::array<std::size_t, 5> blockSizes{1, 3, 7, 64, 4096};
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::string input = randomInput(random);
        const std::int32_t window = randomWindow(random, input.size());
        const std::size_t blockSize = blockSizes[trial % blockSizes.size()];

        const Measured measured = measureInMemory(input, window, blockSize);

        ASSERT_EQ(measured.line, naive::resultLine(input, window))
            << "length " << input.size() << ", window " << window << ", block " << blockSize;
        // The stream may hold more unless a read found its end inside the window.
        ASSERT_EQ(measured.keepGoing, window <= 0 || input.size() >= static_cast<std::size_t>(window));
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
        const std::size_t limit =
            trial % 3 == 0 ? 2147483647 : std::uniform_int_distribution<std::size_t>(0, input.size() + 100)(random);
        const auto [shortest, blockSize] = readings[trial % readings.size()];
        const int fd = memoryFile(input);
        // Every other file comes already read into, as macOS's /dev/stdin may.
        const std::size_t start = trial % 2 == 0 ? 0 : random() % (input.size() + 1);
        lseek(fd, static_cast<off_t>(start), SEEK_SET);

        const gcwindow::ParallelCount count = gcwindow::countFileStart(fd, limit, shortest, blockSize);

        const std::size_t stretch = std::min(limit, input.size() - start);
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
