#pragma once

// Runs the built gcwindow in a scratch folder and checks what a user sees:
// standard output, the exit status, an empty standard error, and the files
// left behind. A case is a row of a table; Cli runs each.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace cli {

namespace fs = std::filesystem;

// An emulator hands the tool the path it was given as its name.
inline const std::string invokedAs = std::string_view(GCWINDOW_EMULATOR).empty() ? "gcwindow" : GCWINDOW_EXE;

inline const std::string usage = "Usage: " + invokedAs +
                                 " assemblyFile.fasta runningWindow output\n"
                                 "Finds the running window GC content in a fasta file\n"
                                 "Just sequence! No gene name/info!\n";

inline std::string inputError(const std::string& path) {
    return "Error! Could not open the first input file: " + path + "\n";
}
inline std::string outputError(const std::string& path) {
    return "Error! Could not open the output file: " + path + "\n";
}
inline std::string readError(const std::string& path) {
    return "Error! Could not read the first input file: " + path + "\n";
}

inline std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void put(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

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

// Writes `chunk` `times` times into `fd`. False when the reader left before
// taking everything.
inline bool writeAll(int fd, const std::string& chunk, int times) {
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

inline bool feed(int fd, const std::string& chunk, int times) {
    const bool whole = writeAll(fd, chunk, times);
    close(fd);
    return whole;
}

struct Outcome {
    std::string out;
    std::string err;
    int status = -1;    // the exit status, or 128 + the signal that ended it
    std::string trace;  // strace's log, where a fault was injected
};

// What a shell, a job scheduler or a container sets up around a run, as a row changes it.
struct Setting {
    mode_t umask = 022;
    std::string stderrPath = {};  // standard error appends to this file (2>>) instead of being captured
    bool stderrClosed = false;
    bool oneCpu = false;                   // taskset -c to the CPU the test runs on
    rlim_t fileSizeLimit = RLIM_INFINITY;  // ulimit -f, in bytes
    std::string devNull = {};              // this file stands at /dev/null, as in a container without devices
};

struct Redirect {
    int stdinFd = -1;  // taken over and closed by run(); /dev/null when -1
    bool stdinClosed = false;
    std::string stdoutPath = {};   // captured into the outcome when empty
    std::string stdoutHolds = {};  // what the captured file holds already; then appended to
    int stdoutFd = -1;             // taken over and closed by run(), instead of a file
    bool stdoutClosed = false;
    // A system call made to fail, as strace's -e inject=FAULT counts the
    // calls on `faultPath` (from the scratch folder; "*" for every call),
    // such as "read:error=EIO:when=2".
    std::string fault = {};
    std::string faultPath = {};
    Setting setting = {};
};

// Words run in front of the tool: under a cross build the emulator
// (CMAKE_CROSSCOMPILING_EMULATOR, its words joined by spaces).
inline std::vector<std::string> emulator() {
    std::vector<std::string> words;
    std::istringstream text(GCWINDOW_EMULATOR);
    for (std::string word; text >> word;) words.push_back(word);
    return words;
}

// Runs gcwindow inside `dir` as "gcwindow OPERANDS...", and ends it if it
// has not ended within 40 s, so that a hang fails rather than waits.
inline Outcome run(const fs::path& dir, const std::vector<std::string>& operands, const Redirect& streams = {}) {
    const fs::path outPath = streams.stdoutPath.empty() ? dir / ".stdout" : fs::path(streams.stdoutPath);
    const fs::path errPath = dir / ".stderr";
    const fs::path tracePath = dir / ".trace";
    std::vector<std::string> words = emulator();
    if (!streams.fault.empty()) {
        std::vector<std::string> strace{
            "strace", "-f", "-qq", "-o", tracePath.string(), "-e", "inject=" + streams.fault};
        // strace's log would meet a file-size limit too, and strace would die of it.
        if (streams.setting.fileSizeLimit != RLIM_INFINITY) strace[4] = "/dev/null";
        if (streams.faultPath != "*") strace.insert(strace.end(), {"-P", streams.faultPath});
        words.insert(words.begin(), strace.begin(), strace.end());
    }
    const std::string program = words.empty() ? GCWINDOW_EXE : words.front();
    words.push_back(words.empty() ? invokedAs : GCWINDOW_EXE);
    words.insert(words.end(), operands.begin(), operands.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (!streams.stdoutHolds.empty()) put(outPath, streams.stdoutHolds);
    const Setting& setting = streams.setting;
    const fs::path stderrPath = setting.stderrPath.empty() ? errPath : dir / setting.stderrPath;
    const fs::path devNull = dir / setting.devNull;

    const pid_t pid = fork();
    if (pid == 0) {
        for (int signal = 1; signal < NSIG; ++signal) std::signal(signal, SIG_DFL);  // as a shell starts a command
        umask(setting.umask);
        const int in = streams.stdinFd >= 0 ? streams.stdinFd : open("/dev/null", O_RDONLY);
        const int appendOrEmpty = streams.stdoutHolds.empty() ? O_TRUNC : O_APPEND;
        const int out =
            streams.stdoutFd >= 0 ? streams.stdoutFd : open(outPath.c_str(), O_WRONLY | O_CREAT | appendOrEmpty, 0644);
        const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (chdir(dir.c_str()) != 0 || in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(126);
        }
        if (streams.stdinClosed) close(0);
        if (streams.stdoutClosed) close(1);
        if (setting.stderrClosed) close(2);
        cpu_set_t one{};
        CPU_SET(sched_getcpu(), &one);
        const rlimit fileSize{setting.fileSizeLimit, setting.fileSizeLimit};
        // By the name it has in the new mount namespace: a link such as /dev/stdout leads to the old one's.
        char nullSource[PATH_MAX] = {};
        if ((setting.oneCpu && sched_setaffinity(0, sizeof one, &one) != 0) ||
            (setting.fileSizeLimit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &fileSize) != 0) ||
            (!setting.devNull.empty() &&
             (realpath(devNull.c_str(), nullSource) == nullptr || unshare(CLONE_NEWNS) != 0 ||
              mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
              mount(nullSource, "/dev/null", nullptr, MS_BIND, nullptr) != 0))) {
            _exit(125);
        }
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    // Only the child may hold the read end, or a writer would never see the
    // reader leave.
    if (streams.stdinFd >= 0) close(streams.stdinFd);
    if (streams.stdoutFd >= 0) close(streams.stdoutFd);
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
    // strace's word, before the run, on where a relative -P path leads.
    if (outcome.err.starts_with("strace: Requested path")) outcome.err.erase(0, outcome.err.find('\n') + 1);
    outcome.trace = slurp(tracePath);
    fs::remove(dir / ".stdout");
    fs::remove(errPath);
    fs::remove(tracePath);
    return outcome;
}

// Whether this process may run on two CPUs or more, which the threaded count needs.
inline bool severalCpus() {
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) >= 2;
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
    // Injected into the calls on `faultPath`, the first operand when empty;
    // the trace must show it injected, unless `faultReached` is false. A row
    // names the call as each target makes it: "lseek,_llseek", since a
    // native 32-bit binary seeks with _llseek.
    std::string fault = {};
    std::string faultPath = {};
    bool faultReached = true;
    // Parts of lines that the trace holds in this order, showing that the
    // path the row names ran: such as {"pread64(", "(INJECTED)", " read("},
    // a threaded read, then the fault, then reading in order. By default the
    // fault alone.
    std::vector<std::string> trail = {};
    mode_t outputMode = 0;         // OUTPUT's permission bits afterwards, where set
    bool threads = false;          // skipped where the threaded count cannot run
    std::string stdoutHolds = {};  // standard output appends to a file that holds this; `out` includes it
    std::string stdoutPath = {};   // standard output goes to this file instead of being captured
    std::string stdinPath = {};    // standard input is this file instead of /dev/null
    bool stdinClosed = false;
    bool stdoutClosed = false;
    // Standard output a socket or a terminal (raw), whose reader gathers `out`, or a pipe whose reader has gone.
    enum class Gather { none, socket, terminal, gone } stdoutVia = Gather::none;
    // A thread feeds `feeds` 64 times into standard input, a pipe or a
    // socket, or into the FIFO "fifo"; all of it must be taken. A socket of
    // datagrams or sequenced packets gets `feeds` as one message, and its
    // sender is gone before the run.
    enum class Feed { none, pipe, socket, fifo, datagrams, packets } feedVia = Feed::none;
    std::string feeds = {};
    Setting setting = {};
};

// Names the case in test listings instead of dumping its bytes.
inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

inline std::string caseName(const testing::TestParamInfo<Case>& info) { return info.param.name; }

class Cli : public testing::TestWithParam<Case> {};

// Mounts a tmpfs at `dir` / "mnt" in a mount namespace of this test
// process's own, which no other process sees and which ends with it; the
// row is skipped where that takes a privilege the tests lack.
inline void privateTmpfs(const fs::path& dir) {
    const fs::path mnt = dir / "mnt";
    fs::create_directory(mnt);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", mnt.c_str(), "tmpfs", 0, nullptr) != 0) {
        GTEST_SKIP() << "no private mounts here";
    }
}

// Whether `trace` holds a line with each of `parts`, in this order.
inline bool traceShows(const std::string& trace, const std::vector<std::string>& parts) {
    std::istringstream lines(trace);
    std::size_t next = 0;
    for (std::string line; next < parts.size() && std::getline(lines, line);) {
        if (line.find(parts[next]) != std::string::npos) ++next;
    }
    return next == parts.size();
}

// A thread that gathers what the tool writes into `fd` until it is closed.
inline std::thread gatherFrom(int fd, std::string& gathered) {
    return std::thread([fd, &gathered] {
        char chunk[4096];
        for (ssize_t got = 0; (got = read(fd, chunk, sizeof chunk)) > 0;) gathered.append(chunk, got);
        close(fd);
    });
}

inline void check(const Case& c) {
    if (c.threads && !severalCpus()) GTEST_SKIP() << "one CPU: no threads";
    Scratch scratch;
    for (const auto& [name, content] : c.files) put(scratch.dir / name, content);
    if (c.setup) c.setup(scratch.dir);
    if (testing::Test::IsSkipped()) return;

    Redirect streams{.stdinClosed = c.stdinClosed,
                     .stdoutPath = c.stdoutPath,
                     .stdoutHolds = c.stdoutHolds,
                     .stdoutClosed = c.stdoutClosed,
                     .fault = c.fault,
                     .faultPath = c.faultPath.empty() && !c.fault.empty() ? c.operands.front() : c.faultPath};
    if (!c.stdinPath.empty()) streams.stdinFd = open((scratch.dir / c.stdinPath).c_str(), O_RDONLY | O_CLOEXEC);
    std::string gathered;
    std::thread reader;
    if (c.stdoutVia == Case::Gather::socket) {
        int ends[2] = {-1, -1};
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        streams.stdoutFd = ends[1];
        reader = gatherFrom(ends[0], gathered);
    } else if (c.stdoutVia == Case::Gather::terminal) {
        const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        const bool made = terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0;
        streams.stdoutFd = made ? open(ptsname(terminal), O_WRONLY | O_NOCTTY | O_CLOEXEC) : -1;
        // A chroot or container without /dev/pts has no terminal to give.
        if (streams.stdoutFd < 0) GTEST_SKIP() << "no pseudo-terminal here";
        termios raw{};
        ASSERT_EQ(tcgetattr(streams.stdoutFd, &raw), 0);
        cfmakeraw(&raw);
        ASSERT_EQ(tcsetattr(streams.stdoutFd, TCSANOW, &raw), 0);
        // Its reader meets EIO once the last writer has closed it.
        reader = gatherFrom(terminal, gathered);
    } else if (int ends[2]; c.stdoutVia == Case::Gather::gone && pipe2(ends, O_CLOEXEC) == 0) {
        close(ends[0]);
        streams.stdoutFd = ends[1];
    }
    bool fed = false;
    std::thread feeder;
    if (c.feedVia == Case::Feed::fifo) {
        const fs::path fifo = scratch.dir / "fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        feeder = std::thread([&, fifo] { fed = feed(open(fifo.c_str(), O_WRONLY | O_CLOEXEC), c.feeds, 64); });
    } else if (c.feedVia == Case::Feed::datagrams || c.feedVia == Case::Feed::packets) {
        int ends[2] = {-1, -1};
        const int kind = c.feedVia == Case::Feed::datagrams ? SOCK_DGRAM : SOCK_SEQPACKET;
        ASSERT_EQ(socketpair(AF_UNIX, kind | SOCK_CLOEXEC, 0, ends), 0);
        ASSERT_EQ(send(ends[1], c.feeds.data(), c.feeds.size(), 0), static_cast<ssize_t>(c.feeds.size()));
        close(ends[1]);
        streams.stdinFd = ends[0];
    } else if (c.feedVia == Case::Feed::pipe || c.feedVia == Case::Feed::socket) {
        int ends[2] = {-1, -1};
        ASSERT_EQ(c.feedVia == Case::Feed::pipe ? pipe2(ends, O_CLOEXEC)
                                                : socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends),
                  0);
        streams.stdinFd = ends[0];
        feeder = std::thread([&, test = ends[1]] { fed = feed(test, c.feeds, 64); });
    }
    streams.setting = c.setting;
    const Outcome outcome = run(scratch.dir, c.operands, streams);
    if (feeder.joinable()) feeder.join();
    if (reader.joinable()) reader.join();
    if (outcome.status == 125) GTEST_SKIP() << "the row's setting cannot be made here";

    EXPECT_EQ(c.stdoutVia == Case::Gather::none ? outcome.out : gathered, c.out);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.err, "");
    if (c.feedVia == Case::Feed::pipe || c.feedVia == Case::Feed::socket || c.feedVia == Case::Feed::fifo) {
        EXPECT_TRUE(fed) << "the input was not read to its end";
    }
    if (!c.fault.empty() && c.faultReached) {
        // Debian 11's strace (5.10) marks no delayed call: there, the call must be in the trace.
        const std::string delayed =
            c.fault.find("delay_") != std::string::npos ? c.fault.substr(0, c.fault.find(':')) + "(" : "(DELAYED)";
        const bool met =
            outcome.trace.find("(INJECTED)") != std::string::npos || outcome.trace.find(delayed) != std::string::npos;
        EXPECT_TRUE(met) << "the run never met " << c.fault;
        EXPECT_TRUE(traceShows(outcome.trace, c.trail)) << "the trace does not show the path this row names:\n"
                                                        << outcome.trace.substr(0, 4000);
    }
    if (c.outputMode != 0) {
        struct stat status {};
        EXPECT_EQ(stat((scratch.dir / c.operands.back()).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.outputMode);
    }
    for (const auto& [name, content] : c.after) {
        if (content) {
            EXPECT_EQ(slurp(scratch.dir / name), *content) << name;
        } else {
            EXPECT_FALSE(fs::exists(fs::symlink_status(scratch.dir / name))) << name;
        }
    }
    // Lets go of what a row mounted, so that the scratch folder can go.
    umount2((scratch.dir / "mnt").c_str(), MNT_DETACH);
}

}  // namespace cli
