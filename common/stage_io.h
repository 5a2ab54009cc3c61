// What every program of the toolchain shares with programs the toolchain builds:
// the input path read, CR LF output, "[err] " diagnostics and the cannot-open exit.
#pragma once
#include <string>
#include <string_view>

namespace kv {

// One read of at most 255 bytes from standard input; trailing CR and LF bytes are
// removed and nothing else is trimmed (a trailing blank stays part of the path).
std::string read_input_line();

// Reads a whole file as bytes. False when it cannot be opened (missing, a folder, ...).
bool read_file(const std::string& path, std::string& out);

// True when the file opens for reading (it is closed again at once).
bool can_open(const std::string& path);

// "runtime error: cannot open file" + CR LF on standard error, exit status 1.
[[noreturn]] void fail_cannot_open();

// Buffered writers for standard output and standard error; every line ends with CR LF.
void out_line(std::string_view text);
void out_text(std::string_view text);
void err_line(std::string_view text);
// "[err] " + message + CR LF on standard error.
void err_diag(std::string_view message);
void flush_all();

}  // namespace kv
