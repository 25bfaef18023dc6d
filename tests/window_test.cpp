// The window measure, read through the real block reader, against a naive
// model that takes one byte per window position.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <random>
#include <string>
#include <vector>

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

using Way = gcwindow::BlockReader::Way;

TEST(FirstWindow, MatchesNaiveModelAcrossBlockEdges) {
    struct Reading {
        std::size_t blockSize;
        Way way;
    };
    // Mapped chunks start inside pages and end short of them; the trial
    // switches ways after five chunks; windows of 16 chunks or more are
    // counted by several threads, a piece each in turn.
    constexpr std::array<Reading, 9> readings{{{1, Way::copy},
                                               {3, Way::copy},
                                               {64, Way::copy},
                                               {4096, Way::copy},
                                               {1, Way::map},
                                               {1000, Way::map},
                                               {4096, Way::map},
                                               {16, Way::map},
                                               {7, Way::choose}}};
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::string input = randomInput(random);
        const std::int32_t window = randomWindow(random, input.size());
        const auto [blockSize, way] = readings[trial % readings.size()];

        const naive::Measured measured = naive::measure(input, window, blockSize, way);

        ASSERT_EQ(measured.line, naive::resultLine(input, window))
            << "length " << input.size() << ", window " << window << ", block " << blockSize << ", way "
            << static_cast<int>(way);
        // The stream may hold more unless a read found its end inside the window.
        ASSERT_EQ(measured.keepGoing, window <= 0 || input.size() >= static_cast<std::size_t>(window));
    }
}

TEST(FirstWindow, EveryByteValueOnceCountsFourOf256) {
    std::string everyByte;
    for (int value = 0; value < 256; ++value) everyByte += static_cast<char>(value);
    EXPECT_EQ(naive::measure(everyByte, 256, 4096).line, "0.015625\n");
}

// Another process may truncate the file while it is mapped: the count must
// give what read() would give then, never die of SIGBUS.
TEST(MappedFile, TruncatedUnderTheMappingIsNotCountedAndDoesNotKill) {
    const long page = sysconf(_SC_PAGESIZE);
    const int fd = memfd_create("input", MFD_CLOEXEC);
    ASSERT_EQ(ftruncate(fd, 2 * page), 0);
    void* const mapping = mmap(nullptr, 2 * page, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    EXPECT_FALSE(
        gcwindow::countMapped({static_cast<const unsigned char*>(mapping), static_cast<std::size_t>(2 * page)}));
    munmap(mapping, 2 * page);
    close(fd);
}

TEST(MappedFile, ShrinkingBetweenChunksPadsWithTheLastByteRead) {
    const int fd = memfd_create("input", MFD_CLOEXEC);
    const std::string input = std::string(4096, 'C') + std::string(4096, 'A') + std::string(4096, 'G');
    ASSERT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    std::vector<unsigned char> buffer(4096);
    gcwindow::BlockReader ins(fd, S_IFREG, buffer, Way::map, 4096);
    EXPECT_EQ(ins.countNext(input.size()).gc, 4096U);
    ASSERT_EQ(ftruncate(fd, 6000), 0);
    const gcwindow::Counted rest = ins.countNext(input.size());
    EXPECT_EQ(rest.bytes, 1904U);
    EXPECT_EQ(rest.last, 'A');
    EXPECT_EQ(ins.countNext(input.size()).bytes, 0U);
    EXPECT_FALSE(ins.failed());
    close(fd);
}

}  // namespace
