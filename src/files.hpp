#pragma once

// Opening SEQFILE and OUTPUT so that no file is ever emptied that holds the
// sequence or a standard stream's lines, and no line lands in a file.

#include <sys/types.h>

namespace gcwindow {

// Which file a path or descriptor is, whatever name reached it.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

// What SEQFILE's path was found to name: a file, nothing at all, or it could
// not be learnt (then any OUTPUT may be SEQFILE).
struct SeqIdentity {
    enum class Found { file, nothing, unknown };
    Found found = Found::nothing;
    FileIdentity file = {};  // when found is file
    bool is(const FileIdentity& other) const { return found == Found::file && file == other; }
};

// SEQFILE as opened: what main needs to read it, and to keep OUTPUT from
// ever being it.
struct Input {
    int fd = -1;  // -1 when it is not to be read
    mode_t kind = 0;
    SeqIdentity identity;
};

// Opens SEQFILE for reading. A directory, which Linux opens but cannot read,
// is refused like a missing file. Even an input that will not open is looked
// up, so that a file we may not read is never emptied by being named as
// OUTPUT too. Standard input that is a socket, named as /dev/stdin, is read
// where it is already open, since Linux opens no socket by name; only a
// stream socket, since read() takes no other kind as a stream with an end.
Input openInput(const char* path);

// What became of OUTPUT.
enum class OutputOutcome {
    held,                  // opened (and emptied, if a regular file), held to the end of the run
    leftAlone,             // left as it is, rightly in silence: SEQFILE's pipe, a standard stream's file
    leftAloneWithMessage,  // not opened, or left as it is for a reason the user must hear
};

struct Output {
    OutputOutcome outcome = OutputOutcome::leftAloneWithMessage;
    int fd = -1;  // when held
};

// Creates or empties OUTPUT, waiting on nothing: nothing is ever written to
// it, so a FIFO with no reader, or a device that waits on open, fails at
// once. A regular file that is SEQFILE itself (the same path, a hard link or
// a symbolic link), by what the path names before the open or by what was
// opened, is refused: emptying it would destroy the sequence before it is
// read. Any other file that is SEQFILE (a pipe, a device) is left as it is,
// with no message. So is the file that a standard stream is open on: a
// message would itself land among the lines there; and a socket, which
// Linux does not open by name, is known by what its path names. Where a
// standard stream cannot be looked at, a file that was already there may be
// its file: it is left alone, with the message.
Output openOutput(const char* path, const SeqIdentity& input);

// Puts a placeholder on closed standard output and error, so that no file
// opened later takes their numbers: the result line would land in it. False
// where standard output could not be held: then nothing can be said, and
// the run must end.
bool holdClosedStandardStreams();

}  // namespace gcwindow
