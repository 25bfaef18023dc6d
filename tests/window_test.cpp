// The window measure, read through the real block reader, against a naive
// model that takes one byte per window position.

#include "window.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "block_reader.hpp"

namespace {

using gcwindow::BlockReader;

// Each position takes the next byte, or repeats the last one once the input
// has ended; before any byte there is nothing to repeat.
std::string naiveResultLine(const std::string& input, std::int32_t window) {
    std::int32_t gcTot = 0;
    std::size_t next = 0;
    char base = '\0';
    for (std::int32_t position = 0; position < window; ++position) {
        if (next < input.size()) base = input[next++];
        if (base == 'G' || base == 'C' || base == 'g' || base == 'c') ++gcTot;
    }
    char line[32];
    std::snprintf(line, sizeof line, "%f\n",
                  static_cast<double>(static_cast<float>(gcTot) / static_cast<float>(window)));
    return line;
}

struct Measured {
    std::string line;
    bool keepGoing;
};

Measured measure(const std::string& input, std::int32_t window, std::size_t blockSize) {
    const int fd = memfd_create("input", MFD_CLOEXEC);
    EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    lseek(fd, 0, SEEK_SET);
    std::vector<unsigned char> buffer(blockSize);
    BlockReader ins(fd, buffer);
    const gcwindow::FirstWindow measured = gcwindow::measureFirstWindow(ins, window);
    close(fd);
    return {gcwindow::resultLine(measured.gcTot, window), measured.keepGoing};
}

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
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::string input = randomInput(random);
        const std::int32_t window = randomWindow(random, input.size());
        const std::size_t blockSize = std::vector<std::size_t>{1, 3, 64, 4096}[trial % 4];

        const Measured measured = measure(input, window, blockSize);

        ASSERT_EQ(measured.line, naiveResultLine(input, window))
            << "length " << input.size() << ", window " << window << ", block " << blockSize;
        // The stream may hold more unless a read found its end inside the window.
        ASSERT_EQ(measured.keepGoing, window <= 0 || input.size() >= static_cast<std::size_t>(window));
    }
}

TEST(FirstWindow, EveryByteValueOnceCountsFourOf256) {
    std::string everyByte;
    for (int value = 0; value < 256; ++value) everyByte += static_cast<char>(value);
    EXPECT_EQ(measure(everyByte, 256, 4096).line, "0.015625\n");
}

}  // namespace
