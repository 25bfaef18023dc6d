// The command line, the window and OUTPUT, as a user meets them: each table
// holds the cases of one concern, each set-up helper stands beside its rows.

#include <csignal>

#include "cli_harness.hpp"

namespace {

using namespace cli;

// A writer into a pipe whose reader left must see EPIPE, not die of SIGPIPE.
[[maybe_unused]] const auto sigpipeIgnored = std::signal(SIGPIPE, SIG_IGN);

TEST_P(Cli, PrintsExitsAndLeavesFilesAsDocumented) { check(GetParam()); }

const std::string gc5 = "GGCC\n";  // 4 GC bytes of 5
const std::string lambdaStart = "GGGCGGCGACCTCGCGGGTTTTCGCTATTTATGAAAATTTTCCGGTTTAAGG";

void makeDir(const fs::path& dir) { fs::create_directory(dir / "folder"); }
void danglingLink(const fs::path& dir) { fs::create_symlink("nowhere", dir / "dangling"); }

// The three operands, counted from the end, and the paths they name.
// clang-format off
const std::vector<Case> operands = {
    Case{.name = "ThreeOperands", .files = {{"seq", gc5}}, .operands = {"seq", "5", "out"},
         .out = "0.800000\n", .after = {{"seq", gc5}, {"out", ""}}, .outputMode = 0664, .setting = {.umask = 002}},
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
    Case{.name = "MissingInputPositiveWindow", .files = {{"out", "old"}}, .operands = {"missing", "5", "out"},
         .out = inputError("missing"), .status = 1, .after = {{"out", ""}}},
    Case{.name = "MissingInputAndOutput", .operands = {"missing", "5", "folder"},
         .out = inputError("missing") + outputError("folder"), .status = 1, .setup = makeDir},
    Case{.name = "InputIsDirectory", .operands = {"folder", "5", "out"}, .out = inputError("folder"),
         .status = 1, .after = {{"out", ""}}, .setup = makeDir},
    Case{.name = "InputIsDirectoryWindowZero", .operands = {"folder", "0", "out"},
         .out = inputError("folder") + "-nan\n", .setup = makeDir},
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
    Case{.name = "OutputInMissingFolder", .files = {{"seq", gc5}}, .operands = {"seq", "5", "none/out"},
         .out = outputError("none/out") + "0.800000\n", .after = {{"seq", gc5}}},
    Case{.name = "OutputIsDirectory", .files = {{"seq", gc5}}, .operands = {"seq", "5", "folder"},
         .out = outputError("folder") + "0.800000\n", .after = {{"seq", gc5}}, .setup = makeDir},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Operands, Cli, testing::ValuesIn(operands), caseName);

// Over "CA", a window of N counts 1 of N: the C, then A repeated.
Case windowText(std::string name, std::string text, std::string out) {
    return Case{.name = std::move(name),
                .files = {{"seq", "CA"}},
                .operands = {"seq", std::move(text), "out"},
                .out = std::move(out),
                .after = {{"seq", "CA"}}};
}

// How the window operand is read.
// clang-format off
const std::vector<Case> windowTexts = {
    windowText("Word", "ten", "-nan\n"),
    windowText("Empty", "", "-nan\n"),
    windowText("TrailingLetters", "25bp", "0.040000\n"),
    windowText("LeadingBlank", " 25", "0.040000\n"),
    windowText("LeadingTabAndNewline", "\t\n25", "0.040000\n"),
    windowText("LeadingReturnVerticalTabFormFeed", "\r\v\f25", "0.040000\n"),
    windowText("PlusSign", "+25", "0.040000\n"),
    windowText("LeadingZeroIsDecimal", "010", "0.100000\n"),
    windowText("HexPrefixIsZero", "0x10", "-nan\n"),
    windowText("SignThenBlank", "- 5", "-nan\n"),
    windowText("TwoSigns", "+-5", "-nan\n"),
    windowText("BinaryMess", "\x01\x7f\xc3(\xff" "9", "-nan\n"),
    windowText("Negative", "-3", "-0.000000\n"),
    windowText("Largest", "2147483647", "0.000000\n"),
    windowText("Smallest", "-2147483648", "-0.000000\n"),
    // Read whole past 32 bits: keeping the low 32 bits would make these 100, 0 and 1.
    windowText("Above32Bits", "4294967396", "0.000000\n"),
    windowText("TwoToThe32", "4294967296", "0.000000\n"),
    windowText("Below32Bits", "-4294967295", "-0.000000\n"),
    // Beyond 64 bits, the nearest limit: keeping the low 64 bits would turn
    // the sign of each of these.
    windowText("Largest64Bit", "9223372036854775807", "0.000000\n"),
    windowText("Above64BitsSaturates", "9223372036854775808", "0.000000\n"),
    windowText("Smallest64Bit", "-9223372036854775808", "-0.000000\n"),
    windowText("Below64BitsSaturates", "-9223372036854775809", "-0.000000\n"),
    windowText("ThirtyDigitsSaturate", "123456789012345678901234567890", "0.000000\n"),
    windowText("TenThousandDigits", std::string(10000, '9'), "0.000000\n"),
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

// What the window holds, and the line that its share prints as.
// clang-format off
const std::vector<Case> windowContents = {
    contents("LineBreakIsAPosition", gc5, "5", "0.800000\n"),
    contents("LowerCaseCounts", "gcat", "4", "0.500000\n"),
    contents("OnlyGAndCCount", "ACGTNACGTN", "10", "0.400000\n"),
    contents("AmbiguityCodeS", "SSSS", "4", "0.000000\n"),
    contents("HeaderBytesArePositions", ">gc\nAT", "6", "0.333333\n"),
    contents("ShortInputRepeatsLastGc", "AG", "4", "0.750000\n"),
    contents("ShortInputRepeatsLastOther", "GA", "4", "0.250000\n"),
    contents("EmptyInput", "", "5", "0.000000\n"),
    contents("TwoToThe32OverTwoBytes", "GC", "4294967296", "1.000000\n"),
    contents("LargestWindowOverTwoBytes", "GC", "9223372036854775807", "1.000000\n"),
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
    Case{.name = "LambdaFirst100", .operands = {SAMPLE_SEQ, "100", "out"}, .out = "0.400000\n"},
    Case{.name = "LambdaWholeGenome", .operands = {SAMPLE_SEQ, "48502", "out"}, .out = "0.498577\n"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(WindowContents, Cli, testing::ValuesIn(windowContents), caseName);

void hardLink(const fs::path& dir) { fs::create_hard_link(dir / "seq", dir / "twin"); }
void symLink(const fs::path& dir) { fs::create_symlink("seq", dir / "alias"); }
void fifo(const fs::path& dir) { mkfifo((dir / "fifo").c_str(), 0600); }

// "seq" by a path longer than the kernel resolves (PATH_MAX, 4096).
const std::string tooLongForSeq = [] {
    std::string path;
    for (int i = 0; i < 2100; ++i) path += "./";
    return path + "seq";
}();

// link1 names seq, and each linkN the one before: one more than the 40
// links Linux follows in a path.
void linkChain(const fs::path& dir) {
    fs::create_symlink("seq", dir / "link1");
    for (int n = 2; n <= 41; ++n)
        fs::create_symlink("link" + std::to_string(n - 1), dir / ("link" + std::to_string(n)));
}

// Two tmpfs mounts number their first files alike: mnt/a/seq and
// mnt/b/out share an inode number, but are two files.
void sameInodeTwoDevices(const fs::path& dir) {
    privateTmpfs(dir);
    if (testing::Test::IsSkipped()) return;
    for (const char* name : {"a", "b"}) {
        fs::create_directory(dir / "mnt" / name);
        ASSERT_EQ(mount("tmpfs", (dir / "mnt" / name).c_str(), "tmpfs", 0, nullptr), 0);
    }
    put(dir / "mnt/a/seq", gc5);
    put(dir / "mnt/b/out", "old");
    struct stat seq {};
    struct stat out {};
    ASSERT_TRUE(stat((dir / "mnt/a/seq").c_str(), &seq) == 0 && stat((dir / "mnt/b/out").c_str(), &out) == 0);
    ASSERT_EQ(seq.st_ino, out.st_ino);
}

// seq and its hard link twin in overlayfs's lower layer: opening twin for
// writing copies it up, a file apart from seq.
void overlayHardLink(const fs::path& dir) {
    privateTmpfs(dir);
    if (testing::Test::IsSkipped()) return;
    for (const char* name : {"lower", "upper", "work", "merged"}) fs::create_directory(dir / "mnt" / name);
    put(dir / "mnt/lower/seq", lambdaStart);
    fs::create_hard_link(dir / "mnt/lower/seq", dir / "mnt/lower/twin");
    const std::string layers = "lowerdir=" + (dir / "mnt/lower").string() +
                               ",upperdir=" + (dir / "mnt/upper").string() + ",workdir=" + (dir / "mnt/work").string();
    if (mount("overlay", (dir / "mnt/merged").c_str(), "overlay", 0, layers.c_str()) != 0) {
        GTEST_SKIP() << "no overlayfs here";
    }
}

// Which file OUTPUT is: never SEQFILE's regular file, never a standard
// stream's, never one that could be SEQFILE; and never waited for.
// clang-format off
const std::vector<Case> outputIdentity = {
    Case{.name = "SamePathKeepsInput", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "seq"},
         .out = outputError("seq") + "1.000000\n", .after = {{"seq", lambdaStart}}},
    // The look before the open misses it, as a link swapped in between: the opened file is refused.
    Case{.name = "HardLinkKeepsInput", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "twin"},
         .out = outputError("twin") + "1.000000\n", .after = {{"seq", lambdaStart}}, .setup = hardLink,
         .fault = "stat,newfstatat,statx:error=ENOENT:when=1", .faultPath = "twin", .trail = {"(INJECTED)", "openat(", "close("}},
    Case{.name = "SymlinkInputKeepsTarget", .files = {{"seq", lambdaStart}}, .operands = {"alias", "4", "seq"},
         .out = outputError("seq") + "1.000000\n", .after = {{"seq", lambdaStart}}, .setup = symLink},
    Case{.name = "SymlinkOutputKeepsInput", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "alias"},
         .out = outputError("alias") + "1.000000\n", .after = {{"seq", lambdaStart}}, .setup = symLink},
    Case{.name = "UnidentifiedInputLeavesOutputAlone", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "seq"},
         .out = inputError("seq") + outputError("seq"), .status = 1, .after = {{"seq", lambdaStart}},
         .fault = "%%stat:error=ENOENT:when=1", .trail = {"(INJECTED)", "close("}},
    Case{.name = "NameTooLongLeavesOutputAlone", .files = {{"seq", lambdaStart}},
         .operands = {tooLongForSeq, "4", "seq"}, .out = inputError(tooLongForSeq) + outputError("seq"),
         .status = 1, .after = {{"seq", lambdaStart}}},
    Case{.name = "TooManyLinksLeaveOutputAlone", .files = {{"seq", lambdaStart}}, .operands = {"link41", "4", "link40"},
         .out = inputError("link41") + outputError("link40"), .status = 1, .after = {{"seq", lambdaStart}},
         .setup = linkChain},
    Case{.name = "PathLongerThanPathMax", .files = {{"seq", gc5}}, .operands = {std::string(5000, 'a'), "5", "out"},
         .out = inputError(std::string(5000, 'a')) + outputError("out"), .status = 1,
         .after = {{"seq", gc5}, {"out", std::nullopt}}},
    Case{.name = "StandardInputsFileKeepsItsLines", .files = {{"seq", lambdaStart}, {"log", "old\n"}},
         .operands = {"seq", "4", "log"}, .out = "1.000000\n", .after = {{"log", "old\n"}}, .stdinPath = "log"},
    Case{.name = "StandardErrorsFileKeepsItsLines", .files = {{"seq", lambdaStart}, {"log", "old\n"}},
         .operands = {"seq", "4", "log"}, .out = "1.000000\n", .after = {{"log", "old\n"}},
         .setting = {.stderrPath = "log"}},
    // OUTPUT takes closed standard input's number: it is no standard stream.
    Case{.name = "OutputOnClosedStandardInputsNumberIsEmptied", .files = {{"out", "old"}},
         .operands = {"missing", "0", "out"}, .out = inputError("missing") + "-nan\n", .after = {{"out", ""}},
         .stdinClosed = true},
    Case{.name = "OutputBesideClosedStandardErrorIsEmptied", .files = {{"out", "old"}},
         .operands = {"missing", "0", "out"}, .out = inputError("missing") + "-nan\n", .after = {{"out", ""}},
         .fault = "pipe,pipe2:error=EMFILE", .faultPath = "*", .stdinClosed = true, .setting = {.stderrClosed = true}},
    // A FUSE file whose daemon died cannot be looked at: it may be OUTPUT.
    Case{.name = "StandardStreamThatCannotBeLookedAt", .files = {{"seq", gc5}, {"out", "keep me\n"}},
         .operands = {"seq", "5", "out"}, .out = outputError("out") + "0.800000\n", .after = {{"out", "keep me\n"}},
         .fault = "%%stat:error=EIO", .faultPath = "/dev/null"},
    // OUTPUT that will not be emptied, or looked at once open, is reported and left as it was.
    Case{.name = "OutputThatWillNotEmpty", .files = {{"seq", gc5}, {"out", "old"}}, .operands = {"seq", "5", "out"},
         .out = outputError("out") + "0.800000\n", .after = {{"out", "old"}},
         .fault = "ftruncate,ftruncate64:error=EIO", .faultPath = "out"},
    Case{.name = "OpenedOutputThatCannotBeLookedAt", .files = {{"seq", gc5}, {"out", "old"}},
         .operands = {"seq", "5", "out"}, .out = outputError("out") + "0.800000\n", .after = {{"out", "old"}},
         .fault = "%%stat:error=EIO", .faultPath = "out", .trail = {"(INJECTED)", "close("}},
    // A file the run creates cannot be any stream's: no stream is looked at.
    Case{.name = "StandardStreamThatCannotBeLookedAtNewOutput", .files = {{"seq", gc5}},
         .operands = {"seq", "5", "new"}, .out = "0.800000\n", .after = {{"new", ""}}, .fault = "%%stat:error=EIO",
         .faultPath = "/dev/null", .faultReached = false},
    Case{.name = "SameInodeOnAnotherDeviceIsEmptied", .operands = {"mnt/a/seq", "5", "mnt/b/out"},
         .out = "0.800000\n", .after = {{"mnt/b/out", ""}}, .setup = sameInodeTwoDevices},
    Case{.name = "OverlayHardLinkKeepsInput", .operands = {"mnt/merged/seq", "4", "mnt/merged/twin"},
         .out = outputError("mnt/merged/twin") + "1.000000\n", .after = {{"mnt/merged/twin", lambdaStart}},
         .setup = overlayHardLink},
    Case{.name = "OverlayHardLinkOfStandardInputKept", .files = {{"s", gc5}}, .operands = {"s", "5", "mnt/merged/twin"},
         .out = "0.800000\n", .after = {{"mnt/merged/twin", lambdaStart}}, .setup = overlayHardLink,
         .stdinPath = "mnt/merged/seq"},
    // Even where the look at the path fails: the opened file is looked at. (A newer C library looks at an
    // opened file with fstat, which the fault leaves alone.)
    Case{.name = "StandardOutputsFileKeepsItsLines", .files = {{"seq", lambdaStart}},
         .operands = {"seq", "4", "/dev/stdout"}, .out = "earlier line\n1.000000\n",
         .fault = "stat,newfstatat,statx:error=EIO:when=1", .faultPath = "/dev/stdout", .stdoutHolds = "earlier line\n"},
    // Linux opens no socket through /dev/stdout; what the path names is still standard output.
    Case{.name = "StandardOutputSocket", .files = {{"seq", lambdaStart}}, .operands = {"seq", "4", "/dev/stdout"},
         .out = "1.000000\n", .stdoutVia = Case::Gather::socket},
    // Only a regular file could be emptied, so only a regular file is refused
    // as SEQFILE; a pipe is let go at once, or draining it would never end.
    Case{.name = "SameDeviceAsInputAndOutput", .operands = {"/dev/stdin", "4", "/dev/null"}, .out = "0.000000\n"},
    Case{.name = "SamePipeAsInputAndOutput", .operands = {"/dev/stdin", "4", "/dev/stdin"}, .out = "1.000000\n",
         .feedVia = Case::Feed::pipe, .feeds = "GGCC"},
    Case{.name = "SameSocketAsInputAndOutput", .operands = {"/dev/stdin", "4", "/dev/stdin"}, .out = "1.000000\n",
         .feedVia = Case::Feed::socket, .feeds = "GGCC"},
    Case{.name = "SameFifoAsInputAndOutput", .operands = {"fifo", "4", "fifo"}, .out = "1.000000\n",
         .feedVia = Case::Feed::fifo, .feeds = "GGCC"},
    // Nothing is written to OUTPUT, so a FIFO that nobody reads is not waited for.
    Case{.name = "FifoWithoutReader", .files = {{"seq", gc5}}, .operands = {"seq", "5", "fifo"},
         .out = outputError("fifo") + "0.800000\n", .setup = fifo},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(OutputIdentity, Cli, testing::ValuesIn(outputIdentity), caseName);

}  // namespace
