// vetter: declaration, call, type and field-privacy checks over a Kavel source and the
// files it pulls in with `use`. The library takes texts and gives diagnostics and a
// count; the program around it (main.cpp) does the prompt, the progress lines and the
// exit status.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kv::vetter {

// A used file (or the main file) that cannot be read. The program turns it into the
// runtime's "cannot open file" exit; the library itself never ends the process.
struct CannotOpenFile : std::runtime_error {
  explicit CannotOpenFile(const std::string& name)
      : std::runtime_error("cannot open file: " + name) {}
};

// Reads the file a `use` directive names, given the name exactly as written between
// the quotes. False when it cannot be opened.
using UseReader = std::function<bool(const std::string& name, std::string& text)>;

// The reader of the real program: resolve_use_path, then the whole file.
bool read_used_file(const std::string& name, std::string& text);

// The source after `use` expansion, with the origin of every line.
struct Expansion {
  std::string text;                 // the expanded source; token positions refer to it
  std::string main_path;            // the path read from standard input
  std::vector<std::string> files;   // file texts met so far; index 0 is the main path
  // line_origins: entry L (from 1) describes line L of the expanded text. Index 0 is a
  // placeholder. A file index of -1 means "no file".
  std::vector<int32_t> origin_file;
  std::vector<int64_t> origin_line;
  std::vector<std::string> used_files;  // names as written, in order of first use
  std::vector<size_t> line_breaks;      // offsets of every LF of `text`, ascending
};

// Expands every `use` directive of main_text (the main file, which keeps its start
// block); throws CannotOpenFile when a used file cannot be read.
Expansion expand_uses(const std::string& main_path, std::string main_text,
                      const UseReader& reader);

// 1 + the number of LF characters before `position` (a position past the end counts
// the whole text).
int64_t line_of(const Expansion& ex, size_t position);

// "line N" for the main file, "<name as written>:N" for a used file.
std::string source_location(const Expansion& ex, size_t position);

struct CheckResult {
  int64_t error_count = 0;
  size_t token_count = 0;   // tokens of the expanded text, placeholder not counted
  std::string diagnostics;  // every "[err] [type error] ..." line, CR LF ended
};

// Receives diagnostic text as it is produced, in order. When set, the result's
// diagnostics hold only what was not yet handed over (nothing, at the end).
using DiagnosticSink = std::function<void(std::string_view)>;

// Lexes the expansion, enters the built-ins, runs the declaration pre-pass and the main
// walk. Never throws on any input; deep nesting is cut off with a diagnostic.
CheckResult check(const Expansion& ex, const DiagnosticSink& sink = {});

// Text in, result out: expansion and check together (may throw CannotOpenFile).
CheckResult check_source(const std::string& main_path, const std::string& main_text,
                         const UseReader& reader, const DiagnosticSink& sink = {});

// How deep blocks and expressions may nest before the rest of the construct is skipped
// with the diagnostic "nesting deeper than <limit> levels".
inline constexpr int kMaxNesting = 1000;

}  // namespace kv::vetter
