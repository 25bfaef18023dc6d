#pragma once

// The tool's own measure and threaded count, run over bytes held in a memory
// file, for tests to compare with the model.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "window.hpp"

// A regular file, open at its start, that holds `bytes`.
inline int memoryFile(std::string_view bytes) {
    const int fd = memfd_create("input", MFD_CLOEXEC);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        std::abort();
    }
    return fd;
}

struct Measured {
    std::string line;
    bool keepGoing;
};

// gcwindow's measure of `input`, read in blocks of `blockSize` bytes.
inline Measured measureInMemory(std::string_view input, std::int64_t window, std::size_t blockSize) {
    const int fd = memoryFile(input);
    std::vector<unsigned char> block(blockSize);
    const gcwindow::FirstWindow measured = gcwindow::measureFirstWindow(fd, window, block);
    close(fd);
    return {gcwindow::resultLine(measured.gcTot, window).text, measured.keepGoing};
}
