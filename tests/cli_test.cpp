// Runs the built gcwindow in a scratch folder and checks what a user sees:
// standard output, the exit status, an empty standard error, and the files
// left behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A writer into a pipe whose reader left must see EPIPE, not die of SIGPIPE.
[[maybe_unused]] const auto sigpipeIgnored = std::signal(SIGPIPE, SIG_IGN);

// An emulator hands the tool the path it was given as its name.
const std::string invokedAs = std::string_view(GCWINDOW_EMULATOR).empty() ? "gcwindow" : GCWINDOW_EXE;

const std::string usage = "Usage: " + invokedAs +
                          " assemblyFile.fasta runningWindow output\n"
                          "Finds the running window GC content in a fasta file\n"
                          "Just sequence! No gene name/info!\n";

std::string inputError(const std::string& path) { return "Error! Could not open the first input file: " + path + "\n"; }
std::string outputError(const std::string& path) { return "Error! Could not open the output file: " + path + "\n"; }
std::string readError(const std::string& path) { return "Error! Could not read the first input file: " + path + "\n"; }

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

struct Scratch {
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "gcwindow-test-XXXXXX").string();
        dir = mkdtemp(pattern.data());
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    fs::path dir;
};

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;  // the exit status, or 128 + the signal that ended it
};

struct Redirect {
    int stdinFd = -1;  // taken over and closed by run(); /dev/null when -1
    bool stdinClosed = false;
    std::string stdoutPath = {};   // captured into the outcome when empty
    std::string stdoutHolds = {};  // what the captured file holds already; then appended to
    int stdoutFd = -1;             // taken over and closed by run(), instead of a file
    bool stdoutClosed = false;
    // A system call made to fail, as strace's -e inject=FAULT counts the
    // calls on `faultPath`, such as "read:error=EIO:when=2".
    std::string fault = {};
    std::string faultPath = {};
};

// Words run in front of the tool: under a cross build the emulator
// (CMAKE_CROSSCOMPILING_EMULATOR, its words joined by spaces).
std::vector<std::string> emulator() {
    std::vector<std::string> words;
    std::istringstream text(GCWINDOW_EMULATOR);
    for (std::string word; text >> word;) words.push_back(word);
    return words;
}

// Runs gcwindow inside `dir` as "gcwindow OPERANDS...".
Outcome run(const fs::path& dir, const std::vector<std::string>& operands, const Redirect& streams = {}) {
    std::vector<std::string> words = emulator();
    if (!streams.fault.empty()) {
        const std::vector<std::string> strace{"strace",
                                              "-f",
                                              "-qq",
                                              "-o",
                                              "/dev/null",
                                              "-P",
                                              (dir / streams.faultPath).string(),
                                              "-e",
                                              "inject=" + streams.fault};
        words.insert(words.begin(), strace.begin(), strace.end());
    }
    const std::string program = words.empty() ? GCWINDOW_EXE : words.front();
    words.push_back(words.empty() ? invokedAs : GCWINDOW_EXE);
    words.insert(words.end(), operands.begin(), operands.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const fs::path outPath = streams.stdoutPath.empty() ? dir / ".stdout" : fs::path(streams.stdoutPath);
    const fs::path errPath = dir / ".stderr";
    if (!streams.stdoutHolds.empty()) put(outPath, streams.stdoutHolds);

    const pid_t pid = fork();
    if (pid == 0) {
        const int in = streams.stdinFd >= 0 ? streams.stdinFd : open("/dev/null", O_RDONLY);
        const int appendOrEmpty = streams.stdoutHolds.empty() ? O_TRUNC : O_APPEND;
        const int out =
            streams.stdoutFd >= 0 ? streams.stdoutFd : open(outPath.c_str(), O_WRONLY | O_CREAT | appendOrEmpty, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir.c_str()) != 0 || in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(126);
        }
        if (streams.stdinClosed) close(0);
        if (streams.stdoutClosed) close(1);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    // Only the child may hold the read end, or a writer would never see the
    // reader leave.
    if (streams.stdinFd >= 0) close(streams.stdinFd);
    if (streams.stdoutFd >= 0) close(streams.stdoutFd);
    // A run that hangs is ended, so that the test fails rather than waits.
    int wait = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (waitpid(pid, &wait, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wait, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    Outcome outcome;
    outcome.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
    if (streams.stdoutPath.empty()) outcome.out = slurp(outPath);
    outcome.err = slurp(errPath);
    fs::remove(dir / ".stdout");
    fs::remove(errPath);
    return outcome;
}

// Writes `chunk` `times` times into `fd`. False when the reader left before
// taking everything.
bool writeAll(int fd, const std::string& chunk, int times) {
    bool whole = true;
    for (int i = 0; i < times && whole; ++i) {
        for (std::size_t done = 0; done < chunk.size() && whole;) {
            const ssize_t wrote = write(fd, chunk.data() + done, chunk.size() - done);
            whole = wrote > 0;
            done += whole ? static_cast<std::size_t>(wrote) : 0;
        }
    }
    return whole;
}

bool feed(int fd, const std::string& chunk, int times) {
    const bool whole = writeAll(fd, chunk, times);
    close(fd);
    return whole;
}

struct Case {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files = {};  // written before the run
    std::vector<std::string> operands = {};
    std::string out = {};
    int status = 0;
    // Contents afterwards; std::nullopt where nothing may exist.
    std::vector<std::pair<std::string, std::optional<std::string>>> after = {};
    std::function<void(const fs::path&)> setup = {};
    std::string fault = {};        // injected into the calls on the first operand, see Redirect
    std::string faultPath = {};    // or on this path
    std::string stdoutHolds = {};  // standard output appends to a file that holds this; `out` includes it
    bool stdinClosed = false;
    bool stdoutClosed = false;
    // Standard input a socket, fed this 64 times, all of which must be taken.
    std::optional<std::string> stdinSocketFeeds = {};
    bool stdoutSocket = false;  // standard output a socket, whose reader gathers `out`
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Cli : public testing::TestWithParam<Case> {};

TEST_P(Cli, PrintsExitsAndLeavesFilesAsDocumented) {
    const Case& c = GetParam();
    Scratch scratch;
    for (const auto& [name, content] : c.files) put(scratch.dir / name, content);
    if (c.setup) c.setup(scratch.dir);

    int in = -1;
    bool fed = false;
    std::thread feeder;
    if (c.stdinSocketFeeds) {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        in = ends[0];
        feeder = std::thread([&, fd = ends[1]] { fed = feed(fd, *c.stdinSocketFeeds, 64); });
    }
    int out = -1;
    std::string gathered;
    std::thread reader;
    if (c.stdoutSocket) {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        out = ends[1];
        reader = std::thread([&, fd = ends[0]] {
            char chunk[4096];
            for (ssize_t got = 0; (got = read(fd, chunk, sizeof chunk)) > 0;) gathered.append(chunk, got);
            close(fd);
        });
    }
    const std::string faultPath = !c.faultPath.empty() || c.fault.empty() ? c.faultPath : c.operands.front();
    Outcome outcome = run(scratch.dir, c.operands,
                          {.stdinFd = in,
                           .stdinClosed = c.stdinClosed,
                           .stdoutHolds = c.stdoutHolds,
                           .stdoutFd = out,
                           .stdoutClosed = c.stdoutClosed,
                           .fault = c.fault,
                           .faultPath = faultPath});
    if (feeder.joinable()) feeder.join();
    if (reader.joinable()) reader.join();
    if (c.stdoutSocket) outcome.out = gathered;

    EXPECT_EQ(outcome.out, c.out);
    if (c.stdinSocketFeeds) {
        EXPECT_TRUE(fed) << "standard input was not read to its end";
    }
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.err, "");
    for (const auto& [name, content] : c.after) {
        if (content) {
            EXPECT_EQ(slurp(scratch.dir / name), *content) << name;
        } else {
            EXPECT_FALSE(fs::exists(fs::symlink_status(scratch.dir / name))) << name;
        }
    }
}

std::string caseName(const testing::TestParamInfo<Case>& info) { return info.param.name; }

void makeDir(const fs::path& dir) { fs::create_directory(dir / "folder"); }

const std::string gc5 = "GGCC\n";  // 4 GC bytes of 5

// clang-format off
const std::vector<Case> operands = {
    Case{.name = "ThreeOperands", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "0.800000\n", .after = {{"seq", gc5}, {"out", ""}}},
    Case{.name = "NoOperands", .operands = {}, .out = usage},
    Case{.name = "TwoOperandsCreateNothing", .files = {{"seq", gc5}}, .operands = {"seq", "out"},
         .out = usage, .after = {{"out", std::nullopt}}},
    Case{.name = "TrailingWordShiftsEveryRole", .files = {{"in", gc5}},
         .operands = {"in", "10", "out", "extra"}, .out = inputError("10") + "-nan\n",
         .after = {{"in", gc5}, {"out", std::nullopt}, {"extra", ""}}},
    Case{.name = "LeadingWordIgnored", .files = {{"seq", gc5}}, .operands = {"x", "seq", "100", "out"},
         .out = "0.040000\n", .after = {{"x", std::nullopt}, {"out", ""}}},
    Case{.name = "ExistingOutputEmptied", .files = {{"seq", gc5}, {"out", "old results\n"}},
         .operands = {"seq", "5", "out"}, .out = "0.800000\n", .after = {{"out", ""}}},
    Case{.name = "MissingInputWindowZero", .operands = {"missing", "0", "out"},
         .out = inputError("missing") + "-nan\n", .after = {{"out", ""}}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Operands, Cli, testing::ValuesIn(operands), caseName);

// Over "CA", a window of N counts 1 of N: the C, then A repeated.
Case windowText(std::string name, std::string text, std::string out) {
    return Case{.name = std::move(name),
                .files = {{"seq", "CA"}},
                .operands = {"seq", std::move(text), "out"},
                .out = std::move(out)};
}

// clang-format off
const std::vector<Case> windowTexts = {
    windowText("Word", "ten", "-nan\n"),
    windowText("Empty", "", "-nan\n"),
    windowText("TrailingLetters", "25bp", "0.040000\n"),
    windowText("LeadingBlank", " 25", "0.040000\n"),
    windowText("LeadingTabAndNewline", "\t\n25", "0.040000\n"),
    windowText("PlusSign", "+25", "0.040000\n"),
    windowText("LeadingZeroIsDecimal", "010", "0.100000\n"),
    windowText("HexPrefixIsZero", "0x10", "-nan\n"),
    windowText("SignThenBlank", "- 5", "-nan\n"),
    windowText("TwoSigns", "+-5", "-nan\n"),
    windowText("Negative", "-3", "-0.000000\n"),
    windowText("Largest", "2147483647", "0.000000\n"),
    windowText("Smallest", "-2147483648", "-0.000000\n"),
    // Keeping the low 32 bits would make these 100, 0 and 1.
    windowText("AboveRangeSaturates", "4294967396", "0.000000\n"),
    windowText("TwoToThe32Saturates", "4294967296", "0.000000\n"),
    windowText("BelowRangeSaturates", "-4294967295", "-0.000000\n"),
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(WindowTexts, Cli, testing::ValuesIn(windowTexts), caseName);

Case contents(std::string name, std::string sequence, std::string window, std::string out) {
    return Case{.name = std::move(name),
                .files = {{"seq", sequence}},
                .operands = {"seq", std::move(window), "out"},
                .out = std::move(out),
                .after = {{"seq", sequence}, {"out", ""}}};
}

std::string withGc(int gc, int length) { return std::string(gc, 'G') + std::string(length - gc, 'A') + "T"; }

// clang-format off
const std::vector<Case> windowContents = {
    contents("LineBreakIsAPosition", gc5, "5", "0.800000\n"),
    contents("LowerCaseCounts", "gcat", "4", "0.500000\n"),
    contents("OnlyGAndCCount", "ACGTNACGTN", "10", "0.400000\n"),
    contents("AmbiguityCodeS", "SSSS", "4", "0.000000\n"),
    contents("HeaderBytesArePositions", ">gc\nAT", "6", "0.333333\n"),
    contents("ShortInputRepeatsLastGc", "AG", "4", "0.750000\n"),
    contents("ShortInputRepeatsLastOther", "GA", "4", "0.250000\n"),
    contents("InputAsLongAsWindow", "GATC", "4", "0.500000\n"),
    contents("WindowOfOne", "CAT", "1", "1.000000\n"),
    contents("TieRoundsToEven", withGc(1, 128), "128", "0.007812\n"),
    contents("ThreeOf128", withGc(3, 128), "128", "0.023438\n"),
    contents("SinglePrecisionRoundsUp", withGc(3, 640), "640", "0.004688\n"),
    contents("SinglePrecisionRoundsDown", withGc(9, 640), "640", "0.014062\n"),
    contents("WindowZero", gc5, "0", "-nan\n"),
    contents("NegativeWindow", gc5, "-7", "-0.000000\n"),
    // 16777208 of 16777217 is 0.999999 exactly, but both counts are rounded
    // to single precision before dividing.
    contents("CountsRoundedAboveTwoTo24", "AAAAAAAAAC", "16777217", "1.000000\n"),
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(WindowContents, Cli, testing::ValuesIn(windowContents), caseName);

void hardLink(const fs::path& dir) { fs::create_hard_link(dir / "seq", dir / "twin"); }
void symLink(const fs::path& dir) { fs::create_symlink("seq", dir / "alias"); }

const std::string lambdaStart = "GGGCGGCGACCTCGCGGGTTTTCGCTATTTATGAAAATTTTCCGGTTTAAGG";

// "seq" by a path longer than the kernel resolves (PATH_MAX, 4096).
std::string tooLongForSeq = [] {
    std::string path;
    for (int i = 0; i < 2100; ++i) path += "./";
    return path + "seq";
}();

// link1 names seq, and each linkN the one before: one more than the 40 links
// Linux follows in a path.
void linkChain(const fs::path& dir) {
    fs::create_symlink("seq", dir / "link1");
    for (int n = 2; n <= 41; ++n)
        fs::create_symlink("link" + std::to_string(n - 1), dir / ("link" + std::to_string(n)));
}

// clang-format off
const std::vector<Case> decisions = {
    Case{.name = "MissingInputPositiveWindow", .files = {{"out", "old"}}, .operands = {"missing", "5", "out"},
         .out = inputError("missing"), .status = 1, .after = {{"out", ""}}},
    Case{.name = "MissingInputAndOutput", .operands = {"missing", "5", "folder"},
         .out = inputError("missing") + outputError("folder"), .status = 1, .setup = makeDir},
    Case{.name = "InputIsDirectory", .operands = {"folder", "5", "out"}, .out = inputError("folder"),
         .status = 1, .after = {{"out", ""}}, .setup = makeDir},
    Case{.name = "InputIsDirectoryWindowZero", .operands = {"folder", "0", "out"},
         .out = inputError("folder") + "-nan\n", .setup = makeDir},
    contents("EmptyInput", "", "5", "0.000000\n"),
    Case{.name = "SamePathKeepsInput", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "seq"},
         .out = outputError("seq") + "1.000000\n", .after = {{"seq", lambdaStart}}},
    Case{.name = "HardLinkKeepsInput", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "twin"},
         .out = outputError("twin") + "1.000000\n", .after = {{"seq", lambdaStart}}, .setup = hardLink},
    Case{.name = "SymlinkInputKeepsTarget", .files = {{"seq", lambdaStart}}, .operands = {"alias", "4", "seq"},
         .out = outputError("seq") + "1.000000\n", .after = {{"seq", lambdaStart}}, .setup = symLink},
    Case{.name = "StandardOutputsFileKeepsItsLines", .files = {{"seq", lambdaStart}},
         .operands = {"seq", "4", "/dev/stdout"}, .out = "earlier line\n1.000000\n", .stdoutHolds = "earlier line\n"},
    contents("HugeWindowOverTwoBytes", "GC", "2147483647", "1.000000\n"),
    // Linux opens no socket through /dev/stdout; what the path names is still standard output.
    Case{.name = "StandardOutputSocketNamedAsOutput", .files = {{"seq", lambdaStart}},
         .operands = {"seq", "4", "/dev/stdout"}, .out = "1.000000\n", .stdoutSocket = true},
    // Only a regular file could be emptied, so only a regular file is refused.
    Case{.name = "SameDeviceAsInputAndOutput", .operands = {"/dev/stdin", "4", "/dev/null"}, .out = "0.000000\n"},
    Case{.name = "NameTooLongKeepsOutputAlone", .files = {{"seq", lambdaStart}},
         .operands = {tooLongForSeq, "4", "seq"}, .out = inputError(tooLongForSeq) + outputError("seq"),
         .status = 1, .after = {{"seq", lambdaStart}}},
    Case{.name = "TooManyLinksKeepsOutputAlone", .files = {{"seq", lambdaStart}}, .operands = {"link41", "4", "link40"},
         .out = inputError("link41") + outputError("link40"), .status = 1, .after = {{"seq", lambdaStart}},
         .setup = linkChain},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Decisions, Cli, testing::ValuesIn(decisions), caseName);

// clang-format off
const std::vector<Case> realSequence = {
    Case{.name = "LambdaFirst100", .operands = {SAMPLE_SEQ, "100", "out"}, .out = "0.400000\n"},
    Case{.name = "LambdaWholeGenome", .operands = {SAMPLE_SEQ, "48502", "out"}, .out = "0.498577\n"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(RealSequence, Cli, testing::ValuesIn(realSequence), caseName);

void danglingLink(const fs::path& dir) { fs::create_symlink("nowhere", dir / "dangling"); }

// The writer opens once the tool opens the FIFO for reading, and closes at once.
void fifoWriterClosesAtOnce(const fs::path& dir) {
    const fs::path fifo = dir / "fifo";
    mkfifo(fifo.c_str(), 0600);
    std::thread([fifo] { close(open(fifo.c_str(), O_WRONLY | O_CLOEXEC)); }).detach();
}

// Two blocks of the reader: A, then G. Padding after the first block would
// print 0.000000.
const std::string twoBlocks = std::string(600000, 'A') + std::string(600000, 'G');

void fifoOnly(const fs::path& dir) { mkfifo((dir / "fifo").c_str(), 0600); }

// 2040-01-01: a 32-bit build without 64-bit times cannot even stat such a file.
void datedAfter2038(const fs::path& dir) {
    const timespec times[2] = {{.tv_sec = 2208988800, .tv_nsec = 0}, {.tv_sec = 2208988800, .tv_nsec = 0}};
    for (const char* name : {"seq", "out"}) utimensat(AT_FDCWD, (dir / name).c_str(), times, 0);
}

void fifoWriterSendsGgcc(const fs::path& dir) {
    const fs::path fifo = dir / "fifo";
    mkfifo(fifo.c_str(), 0600);
    std::thread([fifo] { feed(open(fifo.c_str(), O_WRONLY | O_CLOEXEC), "GGCC", 1); }).detach();
}

// GGCC, then zeros to 3 GiB, taking no disk: past 2 GiB a 32-bit build
// without 64-bit file offsets cannot even open it.
void sparseFileOver2GiB(const fs::path& dir) {
    put(dir / "big", "GGCC");
    fs::resize_file(dir / "big", std::uintmax_t{3} << 30);
}

// 20 MiB of A, then 20 MiB of G: long enough for several threads to count it.
void longHalfGc(const fs::path& dir) { put(dir / "long", std::string(20 << 20, 'A') + std::string(20 << 20, 'G')); }

// 40 MiB of A but for 512 KiB of G at 512 KiB, which move to 16 MiB while the
// tool reads: the new place is written first, then the old one, so a read
// from start to end finds 512 KiB of G or more at any moment. The move starts
// 300 ms after the first read; strace holds each thread's first read (of the
// first block of its piece, at 0, 16 or 32 MiB) for 2 s. Threads that took
// the block at 16 MiB from before the move and the one at 512 KiB from after
// it would find no G at all.
void gcMovesWhileRead(const fs::path& dir) {
    const fs::path file = dir / "moving";
    std::string bytes(40 << 20, 'A');
    std::fill_n(bytes.begin() + (512 << 10), 512 << 10, 'G');
    put(file, bytes);
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, file.c_str(), IN_ACCESS), 0);
    const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::thread([watch, fd] {
        pollfd read{.fd = watch, .events = POLLIN, .revents = 0};
        if (poll(&read, 1, 30000) == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const std::string g(512 << 10, 'G');
            const std::string a(512 << 10, 'A');
            // Two writes of 512 KiB to a file on a local disk do not come short.
            [[maybe_unused]] const bool written =
                pwrite(fd, g.data(), g.size(), 16 << 20) > 0 && pwrite(fd, a.data(), a.size(), 512 << 10) > 0;
        }
        close(fd);
        close(watch);
    }).detach();
}

// Each ends with its documented status and leaves the sequence as it was.
// clang-format off
const std::vector<Case> badInputs = {
    Case{.name = "InputBelowARegularFile", .files = {{"seq", gc5}}, .operands = {"seq/x", "5", "out"},
         .out = inputError("seq/x"), .status = 1, .after = {{"seq", gc5}, {"out", ""}}},
    Case{.name = "DanglingSymlink", .operands = {"dangling", "5", "out"}, .out = inputError("dangling"),
         .status = 1, .after = {{"nowhere", std::nullopt}}, .setup = danglingLink},
    Case{.name = "EmptyPath", .files = {{"seq", gc5}}, .operands = {"", "5", "out"}, .out = inputError(""),
         .status = 1, .after = {{"seq", gc5}}},
    Case{.name = "PathWithSpaces", .files = {{"my seq", gc5}}, .operands = {"my seq", "5", "my out"},
         .out = "0.800000\n", .after = {{"my seq", gc5}, {"my out", ""}}},
    Case{.name = "MissingPathWithNewline", .operands = {"a\nb", "5", "out"}, .out = inputError("a\nb"),
         .status = 1},
    Case{.name = "NonUtf8Paths", .files = {{"\xff\xfe.seq", gc5}}, .operands = {"\xff\xfe.seq", "5", "\xc3("},
         .out = "0.800000\n", .after = {{"\xff\xfe.seq", gc5}, {"\xc3(", ""}}},
    Case{.name = "MissingNonUtf8Path", .operands = {"\x80\xff", "5", "out"}, .out = inputError("\x80\xff"),
         .status = 1},
    Case{.name = "PathLongerThanPathMax", .files = {{"seq", gc5}}, .operands = {std::string(5000, 'a'), "5", "out"},
         .out = inputError(std::string(5000, 'a')) + outputError("out"), .status = 1,
         .after = {{"seq", gc5}, {"out", std::nullopt}}},
    Case{.name = "OutputInMissingFolder", .files = {{"seq", gc5}}, .operands = {"seq", "5", "none/out"},
         .out = outputError("none/out") + "0.800000\n", .after = {{"seq", gc5}}},
    Case{.name = "WindowTextBinaryMess", .files = {{"seq", gc5}}, .operands = {"seq", "\x01\x7f\xc3(\xff" "9", "out"},
         .out = "-nan\n", .after = {{"seq", gc5}}},
    Case{.name = "FifoWriterClosesAtOnce", .operands = {"fifo", "5", "out"}, .out = "0.000000\n",
         .setup = fifoWriterClosesAtOnce},
    Case{.name = "DevNull", .operands = {"/dev/null", "5", "out"}, .out = "0.000000\n"},
    Case{.name = "SparseFileOver2GiB", .operands = {"big", "8", "out"}, .out = "0.500000\n",
         .setup = sparseFileOver2GiB},
    Case{.name = "DevZeroIsNotDrained", .operands = {"/dev/zero", "10", "out"}, .out = "0.000000\n"},
    Case{.name = "OutputIsDirectory", .files = {{"seq", gc5}}, .operands = {"seq", "5", "folder"},
         .out = outputError("folder") + "0.800000\n", .after = {{"seq", gc5}}, .setup = makeDir},
    Case{.name = "TenThousandDigitWindow", .files = {{"seq", "CA"}}, .operands = {"seq", std::string(10000, '9'), "out"},
         .out = "0.000000\n", .after = {{"seq", "CA"}}},
    Case{.name = "ProcSelfMemCannotBeRead", .operands = {"/proc/self/mem", "4", "out"},
         .out = readError("/proc/self/mem"), .status = 1, .after = {{"out", ""}}},
    Case{.name = "ReadFailsInsideTheWindow", .files = {{"seq", twoBlocks}}, .operands = {"seq", "1200000", "out"},
         .out = readError("seq"), .status = 1, .after = {{"seq", twoBlocks}, {"out", ""}},
         .fault = "pread64:error=EIO:when=2"},
    Case{.name = "ReadFailsWherePaddingStarts", .files = {{"seq", "GC"}}, .operands = {"seq", "10", "out"},
         .out = readError("seq"), .status = 1, .after = {{"seq", "GC"}}, .fault = "pread64:error=ENOTCONN:when=2"},
    // strace counts each thread's reads: the first thread's sixth falls in
    // the first piece, which that thread always counts, so the count in
    // order after it reads past the fault.
    Case{.name = "ShortReadInParallelIsCountedAgainInOrder", .operands = {"long", "41943040", "out"},
         .out = "0.500000\n", .setup = longHalfGc, .fault = "pread64:retval=0:when=6"},
    Case{.name = "ChangedWhileCountedInParallelIsCountedAgainInOrder", .operands = {"moving", "41943040", "out"},
         .out = "0.012500\n", .setup = gcMovesWhileRead, .fault = "pread64:delay_exit=2000000:when=1"},
    Case{.name = "ReadFailsInParallel", .operands = {"long", "41943040", "out"}, .out = readError("long"),
         .status = 1, .after = {{"out", ""}}, .setup = longHalfGc, .fault = "pread64:error=EIO:when=6"},
    Case{.name = "PreadRefusedIsReadInOrder", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "0.800000\n", .after = {{"seq", gc5}}, .fault = "pread64:error=ESPIPE"},
    Case{.name = "PreadRefusedMidwayIsReadOnInOrder", .files = {{"seq", twoBlocks}},
         .operands = {"seq", "1200000", "out"}, .out = "0.500000\n", .fault = "pread64:error=ESPIPE:when=2"},
    Case{.name = "PreadRefusedInParallelIsReadInOrder", .operands = {"long", "41943040", "out"}, .out = "0.500000\n",
         .setup = longHalfGc, .fault = "pread64:error=ESPIPE"},
    // poll() calls a regular file ready at once, so a retry would never end.
    Case{.name = "FileThatWouldBlockIsAReadError", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = readError("seq"), .status = 1, .after = {{"seq", gc5}}, .fault = "pread64:error=EAGAIN"},
    Case{.name = "NothingToReadYetIsWaitedFor", .operands = {"fifo", "4", "out"}, .out = "1.000000\n",
         .setup = fifoWriterSendsGgcc, .fault = "read:error=EAGAIN:when=1"},
    Case{.name = "UnidentifiedInputLeavesOutputAlone", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "seq"},
         .out = inputError("seq") + outputError("seq"), .status = 1, .after = {{"seq", lambdaStart}},
         .fault = "%%stat:error=EIO:when=1"},
    // Nothing is written to OUTPUT, so a FIFO that nobody reads is not waited for.
    Case{.name = "FifoOutputWithoutReaderIsNotWaitedFor", .files = {{"seq", gc5}}, .operands = {"seq", "5", "fifo"},
         .out = outputError("fifo") + "0.800000\n", .setup = fifoOnly},
    Case{.name = "StandardInputSocket", .operands = {"/dev/stdin", "4", "out"}, .out = "1.000000\n",
         .stdinSocketFeeds = std::string(1 << 16, 'G') + "CA"},
    // A bare chroot or sandbox has no /dev/null to hold the closed streams.
    Case{.name = "ClosedStreamsWithoutDevNullNeverReachAFile", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .status = 1, .after = {{"out", ""}}, .fault = "openat:error=ENOENT", .faultPath = "/dev/null",
         .stdinClosed = true, .stdoutClosed = true},
    Case{.name = "DatedAfter2038", .files = {{"seq", gc5}, {"out", "old"}}, .operands = {"seq", "5", "out"},
         .out = "0.800000\n", .after = {{"out", ""}}, .setup = datedAfter2038},
    Case{.name = "SymlinkOutputKeepsInput", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "alias"},
         .out = outputError("alias") + "1.000000\n", .after = {{"seq", lambdaStart}}, .setup = symLink},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(BadInputs, Cli, testing::ValuesIn(badInputs), caseName);

TEST(StandardOutput, UnwritableIsAFailure) {
    Scratch scratch;
    put(scratch.dir / "seq", gc5);
    EXPECT_EQ(run(scratch.dir, {"seq", "5", "out"}, {.stdoutPath = "/dev/full"}).status, 1);
    EXPECT_EQ(run(scratch.dir, {"seq"}, {.stdoutPath = "/dev/full"}).status, 1);
}

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

// The files opened first would otherwise take descriptor 1, and the result
// line would land in the output file.
TEST(StandardOutput, ClosedIsAFailureAndNeverReachesAFile) {
    Scratch scratch;
    put(scratch.dir / "seq", gc5);
    EXPECT_EQ(run(scratch.dir, {"seq", "5", "out"}, {.stdoutClosed = true}).status, 1);
    EXPECT_EQ(slurp(scratch.dir / "out"), "");
    EXPECT_EQ(run(scratch.dir, {"missing", "0", "out"}, {.stdoutClosed = true}).status, 1);
    EXPECT_EQ(slurp(scratch.dir / "out"), "");
}

// The window is 100 bytes; megabytes follow, and their writer must finish.
struct Stream {
    std::string name;
    std::string window;
    const char* result;
};

void PrintTo(const Stream& s, std::ostream* os) { *os << s.name; }

class StreamInput : public testing::TestWithParam<Stream> {};

TEST_P(StreamInput, PipeIsReadToItsEndSoItsWriterFinishes) {
    Scratch scratch;
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    bool fed = false;
    std::thread writer([&] { fed = feed(ends[1], std::string(1 << 16, 'G'), 64); });
    const Outcome outcome = run(scratch.dir, {"/dev/stdin", GetParam().window, "out"}, {.stdinFd = ends[0]});
    writer.join();
    EXPECT_EQ(outcome.out, GetParam().result);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(fed);
}

TEST_P(StreamInput, FifoIsReadToItsEndSoItsWriterFinishes) {
    Scratch scratch;
    const fs::path fifo = scratch.dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    bool fed = false;
    std::thread writer([&] { fed = feed(open(fifo.c_str(), O_WRONLY | O_CLOEXEC), std::string(1 << 16, 'G'), 64); });
    const Outcome outcome = run(scratch.dir, {"fifo", GetParam().window, "out"});
    writer.join();
    EXPECT_EQ(outcome.out, GetParam().result);
    EXPECT_TRUE(fed);
}

INSTANTIATE_TEST_SUITE_P(Windows, StreamInput,
                         testing::Values(Stream{"Hundred", "100", "1.000000\n"}, Stream{"Zero", "0", "-nan\n"},
                                         Stream{"Negative", "-1", "-0.000000\n"}),
                         [](const testing::TestParamInfo<Stream>& info) { return info.param.name; });

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

}  // namespace
