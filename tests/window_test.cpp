// The window measure, read through the real block reader, against a naive
// model that takes one byte per window position.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <random>
#include <string>

#include "naive_model.hpp"

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
    switch (random() % 5) {
        case 0:
            return std::uniform_int_distribution<std::int32_t>(-3, 0)(random);
        case 1:
            return length;
        case 2:
            return length + std::uniform_int_distribution<std::int32_t>(1, 4000)(random);
        default:
            return std::uniform_int_distribution<std::int32_t>(1, std::max(length, 1))(random);
    }
}

TEST(FirstWindow, MatchesNaiveModelAcrossBlockEdges) {
    struct Reading {
        std::size_t blockSize;
        std::size_t shortestPiece;
    };
    // Read in order with the tool's shortest piece; by several threads, a
    // piece each in turn, where the window holds two of the shorter pieces.
    constexpr std::size_t tool = gcwindow::shortestPiece;
    constexpr std::array<Reading, 9> readings{
        {{1, tool}, {3, tool}, {64, tool}, {4096, tool}, {1, 1}, {7, 7}, {3, 40}, {64, 500}, {4096, 16}}};
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::string input = randomInput(random);
        const std::int32_t window = randomWindow(random, input.size());
        const auto [blockSize, shortestPiece] = readings[trial % readings.size()];

        const naive::Measured measured = naive::measure(input, window, blockSize, shortestPiece);

        ASSERT_EQ(measured.line, naive::resultLine(input, window))
            << "length " << input.size() << ", window " << window << ", block " << blockSize << ", piece "
            << shortestPiece;
        // The stream may hold more unless a read found its end inside the window.
        ASSERT_EQ(measured.keepGoing, window <= 0 || input.size() >= static_cast<std::size_t>(window));
    }
}

TEST(FirstWindow, EveryByteValueOnceCountsFourOf256) {
    std::string everyByte;
    for (int value = 0; value < 256; ++value) everyByte += static_cast<char>(value);
    EXPECT_EQ(naive::measure(everyByte, 256, 4096).line, "0.015625\n");
}

// Threads only where the file holds two pieces: its length decides, not
// the window (two bytes with a window of two billion start none).
TEST(ParallelCount, TriedOnlyWhereTheFileHoldsALongStretch) {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0 || CPU_COUNT(&cpus) < 2) GTEST_SKIP() << "one CPU: no threads";
    struct Stretch {
        std::size_t fileBytes;
        std::size_t window;
        bool tried;
    };
    constexpr std::array<Stretch, 4> stretches{
        {{2, 2147483647, false}, {100, 99, false}, {99, 2147483647, false}, {100, 2147483647, true}}};
    for (const auto [fileBytes, window, tried] : stretches) {
        const int fd = memfd_create("input", MFD_CLOEXEC);
        ASSERT_EQ(write(fd, std::string(fileBytes, 'G').data(), fileBytes), static_cast<ssize_t>(fileBytes));
        const gcwindow::ParallelCount count = gcwindow::countFileStart(fd, window, 16, 50);
        EXPECT_EQ(count.outcome != gcwindow::Parallel::notTried, tried) << fileBytes << " bytes, window " << window;
        close(fd);
    }
}

}  // namespace
