// Special files, standard streams, failing reads and the threaded count, as
// a user meets them: each table holds the cases of one concern, each set-up
// helper stands beside its rows.

#include <poll.h>
#include <sys/inotify.h>

#include <algorithm>

#include "cli_harness.hpp"

namespace {

using namespace cli;

const std::string gc5 = "GGCC\n";  // 4 GC bytes of 5

// The writer opens once the tool opens the FIFO for reading, and closes at once.
void fifoWriterClosesAtOnce(const fs::path& dir) {
    const fs::path fifo = dir / "fifo";
    mkfifo(fifo.c_str(), 0600);
    std::thread([fifo] { close(open(fifo.c_str(), O_WRONLY | O_CLOEXEC)); }).detach();
}

// The writer comes 300 ms after the run starts, writes GGCC and closes:
// a read that did not wait for it would find the end at once.
void fifoWriterComesLater(const fs::path& dir) {
    const fs::path fifo = dir / "fifo";
    mkfifo(fifo.c_str(), 0600);
    std::thread([fifo] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        int fd = -1;
        for (int tries = 0; tries < 2000 && fd < 0; ++tries) {
            fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // ENXIO until the tool opens it
            if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (fd >= 0) feed(fd, "GGCC", 1);
    }).detach();
}

// GGCC, then zeros to 3 GiB, taking no disk: past 2 GiB a 32-bit build
// without 64-bit file offsets cannot even open it.
void sparseFileOver2GiB(const fs::path& dir) {
    put(dir / "big", "GGCC");
    fs::resize_file(dir / "big", std::uintmax_t{3} << 30);
}

// 4 GiB of zeros, taking no disk, then 17 MiB of G: past 32 bits, where a
// window, a count or an offset that stopped there would see zeros alone.
// More than a 16 MiB piece of G, so that a thread's piece starts past 4 GiB.
constexpr std::uint64_t over4GiB = (std::uint64_t{4} << 30) + (17 << 20);
void sparseFileOver4GiB(const fs::path& dir) {
    put(dir / "huge", "");
    fs::resize_file(dir / "huge", std::uint64_t{4} << 30);
    std::ofstream(dir / "huge", std::ios::binary | std::ios::app) << std::string(17 << 20, 'G');
}

// 2040-01-01: a 32-bit build without 64-bit times cannot even stat such a file.
void datedAfter2038(const fs::path& dir) {
    const timespec times[2] = {{.tv_sec = 2208988800, .tv_nsec = 0}, {.tv_sec = 2208988800, .tv_nsec = 0}};
    for (const char* name : {"seq", "out"}) utimensat(AT_FDCWD, (dir / name).c_str(), times, 0);
}

void nullFifo(const fs::path& dir) { mkfifo((dir / "null").c_str(), 0600); }

// A socket's file, as a bound socket leaves: Linux opens none by name.
void socketFile(const fs::path& dir) { mknod((dir / "sock").c_str(), S_IFSOCK | 0600, 0); }

// 4 MiB of G fed through `via`: a FIFO named "fifo", or standard input.
Case drained(std::string name, Case::Feed via, std::string window, std::string out) {
    return Case{.name = std::move(name),
                .operands = {via == Case::Feed::fifo ? "fifo" : "/dev/stdin", std::move(window), "out"},
                .out = std::move(out),
                .feedVia = via,
                .feeds = std::string(1 << 16, 'G')};
}

// Inputs that are not plain files, and standard streams that are closed or
// not files.
// clang-format off
const std::vector<Case> specialFiles = {
    // The input ended inside the window: nothing is left to drain, and a writer that opens later is not taken.
    Case{.name = "FifoWriterClosesAtOnce", .operands = {"fifo", "5", "out"}, .out = "0.000000\n",
         .setup = fifoWriterClosesAtOnce, .fault = "splice:signal=SIGKILL", .faultReached = false},
    Case{.name = "FifoWithNothingToReadYetIsWaitedFor", .operands = {"fifo", "4", "out"}, .out = "1.000000\n",
         .fault = "read:error=EAGAIN:when=1", .trail = {"(INJECTED)", "poll(", " read("},
         .feedVia = Case::Feed::fifo, .feeds = "GGCC"},
    Case{.name = "FifoWriterComesLaterIsWaitedFor", .operands = {"fifo", "4", "out"}, .out = "1.000000\n",
         .setup = fifoWriterComesLater},
    // The wait itself interrupted: it is made again.
    Case{.name = "FifoWaitInterruptedIsWaitedFor", .operands = {"fifo", "4", "out"}, .out = "1.000000\n",
         .fault = "read,poll,ppoll:error=EAGAIN:when=1", .trail = {"(INJECTED)", "poll(", "poll(", " read("},
         .feedVia = Case::Feed::fifo, .feeds = "GGCC"},
    Case{.name = "DevNull", .operands = {"/dev/null", "5", "out"}, .out = "0.000000\n"},
    // OUTPUT /dev/null is held, never emptied, whatever standard input is.
    Case{.name = "DevZeroIsNotDrained", .operands = {"/dev/zero", "10", "/dev/null"}, .out = "0.000000\n",
         .stdinClosed = true},
    Case{.name = "ProcSelfMemCannotBeRead", .operands = {"/proc/self/mem", "4", "out"},
         .out = readError("/proc/self/mem"), .status = 1, .after = {{"out", ""}}},
    Case{.name = "SparseFileOver2GiB", .operands = {"big", "8", "out"}, .out = "0.500000\n",
         .setup = sparseFileOver2GiB},
    // Whole: 17 * 2^20 G of 4113 * 2^20 bytes, both exact as floats, and
    // 17 / 4113 = 0.0041332; the first 2 or 4 GiB print 0.000000.
    Case{.name = "SparseFileOver4GiBWhole", .operands = {"huge", std::to_string(over4GiB), "out"},
         .out = "0.004133\n", .setup = sparseFileOver4GiB},
    // 5 GiB: the last G repeated to 2^30 G in all, 2^30 / (5 * 2^30) = 0.2.
    Case{.name = "SparseFileOver4GiBPadded", .operands = {"huge", std::to_string(std::uint64_t{5} << 30), "out"},
         .out = "0.200000\n", .setup = sparseFileOver4GiB},
    Case{.name = "DatedAfter2038", .files = {{"seq", gc5}, {"out", "old"}}, .operands = {"seq", "5", "out"},
         .out = "0.800000\n", .after = {{"out", ""}}, .setup = datedAfter2038},
    // A pipe, FIFO or socket is read to its end, so that its writer finishes.
    drained("PipeIsReadToItsEnd", Case::Feed::pipe, "100", "1.000000\n"),
    drained("PipeIsReadToItsEndWindowZero", Case::Feed::pipe, "0", "-nan\n"),
    // "producer | gcwindow ... | reader that has gone": status 1, never SIGPIPE, and the producer finishes.
    Case{.name = "PipeIsReadToItsEndWhenStandardOutputIsGone", .operands = {"/dev/stdin", "100", "out"}, .status = 1,
         .stdoutVia = Case::Gather::gone, .feedVia = Case::Feed::pipe, .feeds = std::string(1 << 16, 'G')},
    // Where /dev/null is a file, the rest is read and thrown away, not moved into it.
    Case{.name = "PipeIsReadToItsEndPastADevNullFile", .files = {{"null", ""}}, .operands = {"/dev/stdin", "10", "out"},
         .out = "1.000000\n", .after = {{"null", ""}}, .feedVia = Case::Feed::pipe,
         .feeds = std::string(1 << 16, 'G'), .setting = {.devNull = "null"}},
    Case{.name = "PipeIsReadToItsEndPastADevNullFifo", .operands = {"/dev/stdin", "10", "out"}, .out = "1.000000\n",
         .setup = nullFifo, .feedVia = Case::Feed::pipe, .feeds = "GGCC", .setting = {.devNull = "null"}},
    Case{.name = "PipeIsReadToItsEndPastADevNullTerminal", .operands = {"/dev/stdin", "10", "out"}, .out = "1.000000\n",
         .stdoutVia = Case::Gather::terminal, .feedVia = Case::Feed::pipe, .feeds = std::string(1 << 16, 'G'),
         .setting = {.devNull = "/dev/stdout"}},
    drained("FifoIsReadToItsEnd", Case::Feed::fifo, "100", "1.000000\n"),
    drained("FifoIsReadToItsEndWindowZero", Case::Feed::fifo, "0", "-nan\n"),
    drained("FifoIsReadToItsEndNegativeWindow", Case::Feed::fifo, "-1", "-0.000000\n"),
    // Linux opens no socket through /dev/stdin: it is read where it is open.
    drained("StandardInputSocket", Case::Feed::socket, "100", "1.000000\n"),
    // A socket file named as SEQFILE is not standard input's socket.
    Case{.name = "SocketFileIsNotStandardInputsSocket", .operands = {"sock", "4", "out"}, .out = inputError("sock"),
         .status = 1, .after = {{"out", ""}}, .setup = socketFile, .feedVia = Case::Feed::socket, .feeds = "GGCC"},
    // Datagrams never say that their sender has gone, and read() cuts a
    // packet longer than a block: neither kind of socket is a stream.
    Case{.name = "StandardInputDatagramSocketIsRefused", .operands = {"/dev/stdin", "4", "out"},
         .out = inputError("/dev/stdin"), .status = 1, .after = {{"out", ""}}, .feedVia = Case::Feed::datagrams,
         .feeds = "GGCC"},
    Case{.name = "StandardInputPacketSocketIsRefused", .operands = {"/dev/stdin", "4", "out"},
         .out = inputError("/dev/stdin"), .status = 1, .after = {{"out", ""}}, .feedVia = Case::Feed::packets,
         .feeds = "GGCC"},
    Case{.name = "InterruptedWriteIsMadeAgain", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "0.800000\n", .fault = "writev:error=EINTR:when=1", .faultPath = ".stdout",
         .trail = {"(INJECTED)", "writev("}},
    // The injected write takes nothing but says it took two bytes: what
    // follows must be the rest of the line, once.
    Case{.name = "ShortWriteGoesOnWhereItStopped", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "800000\n", .fault = "writev:retval=2:when=1", .faultPath = ".stdout",
         .trail = {"(INJECTED)", "writev("}},
    // A non-blocking terminal that is full for a moment is waited for.
    Case{.name = "TerminalThatWouldBlockIsWaitedFor", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "0.800000\n", .fault = "writev:error=EAGAIN:when=1", .faultPath = "*",
         .trail = {"(INJECTED)", "poll(", "writev("}, .stdoutVia = Case::Gather::terminal},
    // A write that takes nothing and says no error would be made for ever.
    Case{.name = "WriteThatTakesNothingIsAFailure", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .status = 1, .fault = "writev:retval=0:when=1", .faultPath = ".stdout"},
    // A message and its path go out in one write of 48 bytes, whole.
    Case{.name = "MessageGoesOutInOneWrite", .files = {{"seq", gc5}}, .operands = {"seq", "5", "none/out"},
         .out = outputError("none/out") + "0.800000\n", .fault = "writev:error=EINTR:when=1",
         .faultPath = ".stdout", .trail = {"(INJECTED)", "}], 3) = 48"}},
    Case{.name = "UnwritableStandardOutput", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"}, .status = 1,
         .stdoutPath = "/dev/full"},
    Case{.name = "UnwritableStandardOutputUsage", .operands = {"seq"}, .status = 1, .stdoutPath = "/dev/full"},
    // A line that would pass the file-size limit (ulimit -f) is not cut into a number such as 0.80: nothing goes.
    Case{.name = "LineOverTheFileSizeLimitIsNotCut", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "earlier\n", .status = 1, .stdoutHolds = "earlier\n", .setting = {.fileSizeLimit = 16}},
    // Where the size check cannot look at the file, the write tells: the cut line is said by status 1, not SIGXFSZ
    // (strace's word on standard error would meet the limit too).
    Case{.name = "LineOverAnUncheckedFileSizeLimitIsAFailure", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "earlier\n0.80", .status = 1, .fault = "%%stat:error=EIO:when=1", .faultPath = ".stdout",
         .faultReached = false, .stdoutHolds = "earlier\n",
         .setting = {.stderrClosed = true, .fileSizeLimit = 12}},
    Case{.name = "LineUpToTheFileSizeLimit", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "earlier\n0.800000\n", .stdoutHolds = "earlier\n", .setting = {.fileSizeLimit = 17}},
    Case{.name = "FileSizeLimitLeavesDevicesAlone", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .stdoutPath = "/dev/null", .setting = {.fileSizeLimit = 0}},
    // The files opened first would otherwise take descriptor 1, and the
    // result line would land in the output file.
    Case{.name = "ClosedStandardOutputIsAFailure", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .status = 1, .after = {{"out", ""}}, .stdoutClosed = true},
    Case{.name = "ClosedStandardOutputMissingInput", .operands = {"missing", "0", "out"}, .status = 1,
         .after = {{"out", ""}}, .stdoutClosed = true},
    // Without a pipe to hold it, closed standard output would be OUTPUT's number.
    Case{.name = "ClosedStandardOutputThatCannotBeHeld", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .status = 1, .after = {{"out", std::nullopt}}, .fault = "pipe,pipe2:error=EMFILE", .faultPath = "*",
         .stdinClosed = true, .stdoutClosed = true},
    // A bare chroot or sandbox has no /dev/null to hold the closed streams;
    // the tool needs none, so nothing meets the fault.
    Case{.name = "ClosedStreamsWithoutDevNull", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .status = 1, .after = {{"out", ""}}, .fault = "openat:error=ENOENT", .faultPath = "/dev/null",
         .faultReached = false, .stdinClosed = true, .stdoutClosed = true},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(SpecialFiles, Cli, testing::ValuesIn(specialFiles), caseName);

// Event loops and job runners hand out non-blocking pipes: one that is full
// when the run starts is read 300 ms later, and the line must still come.
TEST(StandardOutput, FullNonBlockingPipeIsWaitedFor) {
    Scratch scratch;
    put(scratch.dir / "seq", gc5);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    std::size_t filled = 0;
    for (ssize_t wrote = 0; wrote >= 0; filled += wrote > 0 ? static_cast<std::size_t>(wrote) : 0) {
        wrote = write(ends[1], std::string(4096, 'x').data(), 4096);
    }
    ASSERT_EQ(errno, EAGAIN);
    ASSERT_EQ(fcntl(ends[0], F_SETFL, 0), 0);
    std::string received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        char chunk[1 << 16];
        for (ssize_t got = 0; (got = read(ends[0], chunk, sizeof chunk)) > 0;) received.append(chunk, got);
        close(ends[0]);
    });
    const Outcome outcome = run(scratch.dir, {"seq", "5", "out"}, {.stdoutFd = ends[1]});
    reader.join();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(received.substr(std::min(filled, received.size())), "0.800000\n");
}

TEST(Pipe, ResultLineComesBeforeTheWriterFinishes) {
    Scratch scratch;
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    bool seen = false;
    std::thread writer([&] {
        writeAll(ends[1], std::string(100, 'C'), 1);
        for (int tries = 0; tries < 3000 && !seen; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            seen = slurp(scratch.dir / ".stdout") == "1.000000\n";
        }
        feed(ends[1], "more sequence", 1);
    });
    const Outcome outcome = run(scratch.dir, {"/dev/stdin", "100", "out"}, {.stdinFd = ends[0]});
    writer.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(outcome.out, "1.000000\n");
}

// Two blocks of the reader: A, then G. Padding after the first block would
// print 0.000000.
const std::string twoBlocks = std::string(600000, 'A') + std::string(600000, 'G');

// Reads in order that fail inside the window: never padded into an answer.
// clang-format off
const std::vector<Case> readFaults = {
    Case{.name = "FailsInsideTheWindow", .files = {{"seq", twoBlocks}}, .operands = {"seq", "1200000", "out"},
         .out = readError("seq"), .status = 1, .after = {{"seq", twoBlocks}, {"out", ""}},
         .fault = "read:error=EIO:when=2", .trail = {" read(", "(INJECTED)"}},
    Case{.name = "FailsWherePaddingStarts", .files = {{"seq", "GC"}}, .operands = {"seq", "10", "out"},
         .out = readError("seq"), .status = 1, .after = {{"seq", "GC"}}, .fault = "read:error=ENOTCONN:when=2",
         .trail = {" read(", "(INJECTED)"}},
    // FUSE, NFS and a traced run interrupt calls: each is made again.
    Case{.name = "InterruptedIsMadeAgain", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "0.800000\n", .fault = "read:error=EINTR:when=1..2",
         .trail = {"O_NOCTTY", "(INJECTED)", "(INJECTED)", " read("}},
    // poll() calls a regular file ready at once, so a retry would never end.
    Case{.name = "RegularFileThatWouldBlock", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = readError("seq"), .status = 1, .after = {{"seq", gc5}}, .fault = "read:error=EAGAIN"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(ReadFaults, Cli, testing::ValuesIn(readFaults), caseName);

constexpr std::size_t longBytes = std::size_t{40} << 20;

// 20 MiB of A, then 20 MiB of G: long enough for several threads to count it.
void longHalfGc(const fs::path& dir) {
    put(dir / "long", std::string(longBytes / 2, 'A') + std::string(longBytes / 2, 'G'));
}

// 40 MiB of A but for 512 KiB of G at 512 KiB, which move to 16 MiB while the
// tool reads: the new place is written first, then the old one, so a read
// from start to end finds 512 KiB of G or more at any moment. The move starts
// 300 ms after the first read; strace holds each thread's first read (of the
// first block of its piece, at 0, 16 or 32 MiB) for 2 s. Threads that took
// the block at 16 MiB from before the move and the one at 512 KiB from after
// it would find no G at all.
void gcMoves(const fs::path& dir, bool mtimeSetBack) {
    const fs::path file = dir / "moving";
    std::string bytes(longBytes, 'A');
    std::fill_n(bytes.begin() + (512 << 10), 512 << 10, 'G');
    // Written as a second starts, so that the move comes within it: only the nanoseconds of its times tell.
    const auto intoSecond = std::chrono::system_clock::now().time_since_epoch() % std::chrono::seconds(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1020) - intoSecond);
    put(file, bytes);
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, file.c_str(), IN_ACCESS), 0);
    const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct stat before {};
    ASSERT_EQ(fstat(fd, &before), 0);
    std::thread([watch, fd, mtimeSetBack, mtime = before.st_mtim] {
        pollfd read{.fd = watch, .events = POLLIN, .revents = 0};
        if (poll(&read, 1, 30000) == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const std::string g(512 << 10, 'G');
            const std::string a(512 << 10, 'A');
            // Two writes of 512 KiB to a file on a local disk do not come short.
            [[maybe_unused]] const bool written =
                pwrite(fd, g.data(), g.size(), 16 << 20) > 0 && pwrite(fd, a.data(), a.size(), 512 << 10) > 0;
            const timespec times[2] = {{.tv_sec = 0, .tv_nsec = UTIME_OMIT}, mtime};
            if (mtimeSetBack) futimens(fd, times);
        }
        close(fd);
        close(watch);
    }).detach();
}
void gcMovesWhileRead(const fs::path& dir) { gcMoves(dir, false); }
// The same with the mtime set back after the move, as rsync -t or touch -r
// would: only the ctime tells.
void gcMovesMtimeSetBack(const fs::path& dir) { gcMoves(dir, true); }

const std::string wholeLong = std::to_string(longBytes);
const std::string twiceLong = std::to_string(2 * longBytes);

// A window of 40 MiB or more of a regular file, counted by several threads.
// Only they read at offsets (pread64), so a fault injected there and met
// was met by them; whatever comes short is counted again in order.
// clang-format off
const std::vector<Case> threadedCount = {
    Case{.name = "CountsTheFile", .operands = {"long", wholeLong, "out"}, .out = "0.500000\n", .setup = longHalfGc,
         .threads = true},
    // On one CPU (taskset -c 0), one thread reads in order: no read at an offset is made to fail.
    Case{.name = "OneCpuReadsInOrder", .operands = {"long", wholeLong, "out"}, .out = "0.500000\n", .setup = longHalfGc,
         .fault = "pread64:error=EIO", .faultReached = false, .setting = {.oneCpu = true}},
    // A window under two 16 MiB pieces is read in order too.
    Case{.name = "WindowUnder32MiBReadsInOrder", .operands = {"long", "33554431", "out"}, .out = "0.375000\n",
         .setup = longHalfGc, .fault = "pread64:error=EIO", .faultReached = false},
    // Reading in order goes on after the stretch, where padding starts.
    Case{.name = "WindowPastTheEndIsPadded", .operands = {"long", twiceLong, "out"}, .out = "0.750000\n",
         .setup = longHalfGc, .threads = true},
    Case{.name = "ShortReadIsCountedAgainInOrder", .operands = {"long", wholeLong, "out"}, .out = "0.500000\n",
         .setup = longHalfGc, .fault = "pread64:retval=0", .trail = {"(INJECTED)", " read("}, .threads = true},
    Case{.name = "ChangedWhileCountedIsCountedAgainInOrder", .operands = {"moving", wholeLong, "out"},
         .out = "0.012500\n", .setup = gcMovesWhileRead, .fault = "pread64:delay_exit=2000000:when=1",
         .trail = {"pread64(", " read("}, .threads = true},
    Case{.name = "ChangedWithItsMtimeSetBackIsCountedAgainInOrder", .operands = {"moving", wholeLong, "out"},
         .out = "0.012500\n", .setup = gcMovesMtimeSetBack, .fault = "pread64:delay_exit=2000000:when=1",
         .trail = {"pread64(", " read("}, .threads = true},
    Case{.name = "InterruptedIsMadeAgain", .operands = {"long", wholeLong, "out"}, .out = "0.500000\n",
         .setup = longHalfGc, .fault = "pread64:error=EINTR:when=1", .trail = {"(INJECTED)", "pread64("},
         .threads = true},
    Case{.name = "ReadFails", .operands = {"long", wholeLong, "out"}, .out = readError("long"), .status = 1,
         .after = {{"out", ""}}, .setup = longHalfGc, .fault = "pread64:error=EIO", .threads = true},
    Case{.name = "RegularFileThatWouldBlock", .operands = {"long", wholeLong, "out"}, .out = readError("long"),
         .status = 1, .setup = longHalfGc, .fault = "pread64:error=EAGAIN", .threads = true},
    // tracefs's trace_pipe and some FUSE files refuse reads at offsets but read in order.
    Case{.name = "ReadsAtOffsetsRefusedIsReadInOrder", .operands = {"long", wholeLong, "out"}, .out = "0.500000\n",
         .setup = longHalfGc, .fault = "pread64:error=ESPIPE", .trail = {"(INJECTED)", " read("}, .threads = true},
    // The move of the offset after the threads' reads is refused: reading in
    // order would start again at the file's start, and count it twice.
    Case{.name = "OffsetThatWillNotMoveIsCountedAgainInOrder", .operands = {"long", twiceLong, "out"},
         .out = "0.750000\n", .setup = longHalfGc, .fault = "lseek,_llseek:error=ESPIPE:when=2",
         .trail = {"pread64(", "(INJECTED)", " read("}, .threads = true},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(ThreadedCount, Cli, testing::ValuesIn(threadedCount), caseName);

}  // namespace
