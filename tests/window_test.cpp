// The window measure, read through the real block reader, against a naive
// model that takes one byte per window position.

#include <gtest/gtest.h>

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
    constexpr std::array<std::size_t, 4> blockSizes{1, 3, 64, 4096};
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::string input = randomInput(random);
        const std::int32_t window = randomWindow(random, input.size());
        const std::size_t blockSize = blockSizes[trial % blockSizes.size()];

        const naive::Measured measured = naive::measure(input, window, blockSize);

        ASSERT_EQ(measured.line, naive::resultLine(input, window))
            << "length " << input.size() << ", window " << window << ", block " << blockSize;
        // The stream may hold more unless a read found its end inside the window.
        ASSERT_EQ(measured.keepGoing, window <= 0 || input.size() >= static_cast<std::size_t>(window));
    }
}

TEST(FirstWindow, EveryByteValueOnceCountsFourOf256) {
    std::string everyByte;
    for (int value = 0; value < 256; ++value) everyByte += static_cast<char>(value);
    EXPECT_EQ(naive::measure(everyByte, 256, 4096).line, "0.015625\n");
}

}  // namespace
