// gcwindow SEQFILE WINDOW OUTPUT: the GC share of the first WINDOW bytes of
// SEQFILE, printed on standard output. OUTPUT is created or emptied and left
// empty. Every message goes to standard output; nothing goes to standard error.

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>

#include "block_reader.hpp"
#include "files.hpp"
#include "io.hpp"
#include "window.hpp"

namespace {

using namespace gcwindow;

// The usage text, after "Usage: " and the name the tool was invoked by.
constexpr const char* usageAfterName =
    " assemblyFile.fasta runningWindow output\n"
    "Finds the running window GC content in a fasta file\n"
    "Just sequence! No gene name/info!\n";

// A pipe, FIFO or socket is read to its end after the window, so that the
// process writing into it is never cut off. A regular file or a device is
// left alone: nobody can tell whether a file's tail was read, and /dev/zero
// never ends.
bool isDrained(mode_t kind) { return S_ISFIFO(kind) || S_ISSOCK(kind); }

bool outputFailed = false;

// Every line goes out whole, at once: nothing is held back to be lost later.
template <typename... Pieces>
void say(Pieces... pieces) {
    if (!writeWhole(STDOUT_FILENO, pieces...)) outputFailed = true;
}

// Standard output that could not be written (a full disk, say) is a failure
// whatever the run's own status.
int finish(int status) { return outputFailed ? 1 : status; }

}  // namespace

int main(int argc, char* argv[]) {
    // A standard output whose reader has gone, or a file at its size limit,
    // would end the run by a signal, leaving the input's writer cut off and
    // no status that says why: the write fails instead, and the run goes on
    // to drain its input and end with status 1.
    for (const int fatal : {SIGPIPE, SIGXFSZ}) std::signal(fatal, SIG_IGN);
    // Nothing can be said where standard output could be a file's descriptor.
    if (!holdClosedStandardStreams()) return 1;
    if (argc < 4) {
        say("Usage: ", argc > 0 && argv[0] != nullptr ? argv[0] : "gcwindow", usageAfterName);
        return finish(0);
    }
    const char* inputPath = argv[argc - 3];
    const char* windowText = argv[argc - 2];
    const char* outputPath = argv[argc - 1];

    const Input ins = openInput(inputPath);
    if (ins.fd < 0) say("Error! Could not open the first input file: ", inputPath, "\n");
    const Output fout = openOutput(outputPath, ins.identity);
    if (fout.outcome == OutputOutcome::leftAloneWithMessage) {
        say("Error! Could not open the output file: ", outputPath, "\n");
    }
    const std::int64_t runningWindow = parseWindow(windowText);

    // There is nothing to measure in an input that never opened.
    if (ins.fd < 0 && runningWindow > 0) return finish(1);

    alignas(64) static unsigned char block[blockBytes];
    const FirstWindow window = measureFirstWindow(ins.fd, runningWindow, block);
    if (window.readFailed) {
        say("Error! Could not read the first input file: ", inputPath, "\n");
        return finish(1);
    }
    // The answer is out before a slow writer is drained.
    say(resultLine(window.gcTot, runningWindow).text);
    if (window.keepGoing && isDrained(ins.kind)) drainInput(ins.fd, block);
    return finish(0);
}
