// `use` expansion, shared by the front end and the checker: the main source with every
// used file put in place of its directive, and the origin of every line of the result.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The main source or a used file cannot be read. Each program turns it into the
// runtime's "cannot open file" exit; the library only throws, so that tests and fuzzers
// survive it.
struct CannotOpenFile : std::runtime_error {
  explicit CannotOpenFile(const std::string& name)
      : std::runtime_error("cannot open file: " + name) {}
};

// Reads the file a `use` directive names, given the name exactly as written between
// the quotes. False when it cannot be opened. Tests and fuzzers read from memory.
using UseReader = std::function<bool(const std::string& name, std::string& text)>;

// The reader of the real programs for the main source at main_path: resolve_use_path,
// then the whole file.
UseReader used_file_reader(const std::string& main_path);

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

// Replaces every `use "name":` directive of main_text (outside string literals and
// comments, wherever it stands) by the file it names, with that file's first start block
// removed and its own directives expanded; each name is read once per run, the main path
// counting as read. The main file keeps its start block. Throws CannotOpenFile before
// returning anything when a used file cannot be read.
Expansion expand_uses(const std::string& main_path, std::string main_text,
                      const UseReader& reader);

// 1 + the number of LF characters before `position` (a position past the end counts
// the whole text).
int64_t line_of(const Expansion& ex, size_t position);

// "line N" for the main file, "<name as written>:N" for a used file.
std::string source_location(const Expansion& ex, size_t position);

// Where a used name is read from: as written when it opens (a relative name from the
// current folder, which keeps priority); else, for a relative name, from the folder of
// the main source at main_path when it opens there, so `kavel sub/main.kv` finds
// sub/helper.kv; else a name holding "/" or "\" stays as written, and a bare name is
// looked for beside the running executable (std.kv, kavelweb.kv).
std::string resolve_use_path(const std::string& name, const std::string& main_path);

// Removes the first "start [" block (brackets counted without regard to strings or
// comments); an unbalanced block removes everything from "start [" on.
std::string strip_start_block(std::string_view text);

}  // namespace kv
