// What every program of the toolchain shares with programs the toolchain builds:
// the input path read, CR LF output, "[err] " diagnostics and the cannot-open exit.
#pragma once
#include <string>
#include <string_view>

namespace kv {

// One read of at most 255 bytes from standard input; trailing CR and LF bytes are
// removed and nothing else is trimmed (a trailing blank stays part of the path).
std::string read_input_line();

// One line of any length from standard input: the bytes before the first LF (or the end
// of the input), trailing CR removed. The rest of the input stays unread.
std::string read_line();

// Reads a whole input as a text, which ends at its first 0 byte like every text. False
// when it cannot be read: missing, unreadable, a folder, or a device that never ends
// (zero, random, full, ...), which would be read forever. Any finite input is read: a
// regular file, a FIFO (waiting for its writer), the null device, a terminal.
bool read_file(const std::string& path, std::string& out);

// True when read_file would accept the path; reads nothing and never waits for a writer.
bool can_open(const std::string& path);

// "runtime error: cannot open file" + CR LF on standard error, exit status 1.
[[noreturn]] void fail_cannot_open();

// Buffered writers for standard output and standard error; every line ends with CR LF.
// Standard output carries a stage's product: when it cannot be written (a full disk, a
// closed stream) the program stops with "runtime error: cannot write output" on
// standard error and exit status 1, so the build never goes on with a cut product.
void out_line(std::string_view text);
void out_text(std::string_view text);
void err_line(std::string_view text);
// "[err] " + message + CR LF on standard error.
void err_diag(std::string_view message);
void flush_all();

}  // namespace kv
