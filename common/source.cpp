// `use` expansion with line bookkeeping, the locations diagnostics are given by, and
// how a used name is found and its start block removed.
#include "source.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "platform.h"
#include "stage_io.h"

namespace kv {

UseReader used_file_reader(const std::string& main_path) {
  return [main_path](const std::string& name, std::string& text) {
    return read_file(resolve_use_path(name, main_path), text);
  };
}

namespace {

// One file being expanded. The files form a stack; the newest is the one on top, and
// the lines of its chunks are recorded under its name.
struct Frame {
  std::string text;
  size_t index = 0;
  size_t mark = 0;       // where the part not yet copied begins
  int64_t line = 1;      // line counter of this file
  int32_t file = 0;      // index into Expansion::files
};

size_t count_breaks(std::string_view s) {
  return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
}

}  // namespace

Expansion expand_uses(const std::string& main_path, std::string main_text,
                      const UseReader& reader) {
  Expansion ex;
  ex.main_path = main_path;
  ex.files.push_back(main_path);
  ex.used_files.push_back(main_path);
  std::unordered_set<std::string> used(ex.used_files.begin(), ex.used_files.end());
  ex.origin_file.push_back(-1);
  ex.origin_line.push_back(0);
  ex.text.reserve(main_text.size() + 64);

  // Appends a chunk of the file on top and records one line origin per LF in it.
  auto book = [&ex](Frame& f, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      if (f.text[i] == '\n') {
        ex.line_breaks.push_back(ex.text.size() + (i - from));
        ex.origin_file.push_back(f.file);
        ex.origin_line.push_back(f.line);
        ++f.line;
      }
    }
    ex.text.append(f.text, from, to - from);
  };

  // Explicit stack: a long chain of files using each other cannot exhaust the native stack.
  std::vector<Frame> stack;
  stack.push_back(Frame{std::move(main_text), 0, 0, 1, 0});

  while (!stack.empty()) {
    Frame* f = &stack.back();
    const size_t n = f->text.size();
    bool descended = false;
    while (f->index < n) {
      const std::string& t = f->text;
      size_t i = f->index;
      const char c = t[i];
      if (c == '"') {
        ++i;
        while (i < n && t[i] != '"') i += (t[i] == '\\') ? 2 : 1;
        f->index = std::min(i + 1, n);
      } else if (c == '/' && i + 1 < n && t[i + 1] == '/') {
        const size_t lf = t.find('\n', i);
        f->index = lf == std::string::npos ? n : lf;
      } else if (c == 'u' && i + 4 < n && t.compare(i, 4, "use ") == 0 && t[i + 4] == '"') {
        book(*f, f->mark, i);
        const size_t close = t.find('"', i + 5);
        std::string name;
        size_t next = n;
        if (close == std::string::npos) {
          name = t.substr(i + 5);
        } else {
          name = t.substr(i + 5, close - (i + 5));
          const size_t colon = t.find(':', close);
          if (colon != std::string::npos) next = colon + 1;
        }
        // The directive's text leaves the output, but its line breaks (a directive
        // without ":" on its own line) still count, so later lines keep their numbers.
        f->line += static_cast<int64_t>(count_breaks(std::string_view(t).substr(i, next - i)));
        f->index = f->mark = next;
        if (!used.insert(name).second) continue;
        ex.used_files.push_back(name);
        std::string body;
        if (!reader(name, body)) throw CannotOpenFile(name);
        ex.files.push_back(name);
        const auto file = static_cast<int32_t>(ex.files.size() - 1);
        stack.push_back(Frame{strip_start_block(body), 0, 0, 1, file});
        descended = true;
        break;
      } else {
        ++f->index;
      }
    }
    if (descended) continue;

    f = &stack.back();
    book(*f, f->mark, f->text.size());
    const int32_t file = f->file;
    const int64_t last_line = f->line;
    stack.pop_back();
    if (!stack.empty()) {
      // The LF written after a used file ends its last line (or an empty line when the
      // file ended with its own LF); either way the line belongs to the used file.
      ex.line_breaks.push_back(ex.text.size());
      ex.origin_file.push_back(file);
      ex.origin_line.push_back(last_line);
      ex.text.push_back('\n');
    } else if (!ex.text.empty() && ex.text.back() != '\n') {
      // A main file without a final LF: its last line still names its own number.
      ex.origin_file.push_back(file);
      ex.origin_line.push_back(last_line);
    }
  }
  return ex;
}

int64_t line_of(const Expansion& ex, size_t position) {
  const auto before = std::lower_bound(ex.line_breaks.begin(), ex.line_breaks.end(), position);
  return 1 + static_cast<int64_t>(before - ex.line_breaks.begin());
}

std::string source_location(const Expansion& ex, size_t position) {
  const int64_t line = line_of(ex, position);
  if (static_cast<size_t>(line) >= ex.origin_file.size() || ex.origin_file[line] < 0)
    return "line " + std::to_string(line);
  const int32_t file = ex.origin_file[static_cast<size_t>(line)];
  const std::string number = std::to_string(ex.origin_line[static_cast<size_t>(line)]);
  if (ex.files[static_cast<size_t>(file)] == ex.main_path) return "line " + number;
  return ex.files[static_cast<size_t>(file)] + ":" + number;
}

namespace {

bool is_absolute(const std::string& name) {
  return (!name.empty() && (name[0] == '/' || name[0] == '\\')) || (name.size() > 1 && name[1] == ':');
}

// The folder part of a path with its last separator ("sub/" of "sub/main.kv"), or "".
std::string folder_of(const std::string& path) {
  const size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

}  // namespace

std::string resolve_use_path(const std::string& name, const std::string& main_path) {
  if (can_open(name)) return name;
  const std::string folder = folder_of(main_path);
  if (!folder.empty() && !is_absolute(name) && can_open(folder + name)) return folder + name;
  if (name.find_first_of("/\\") != std::string::npos) return name;
  return exe_dir() + "/" + name;
}

std::string strip_start_block(std::string_view text) {
  const size_t at = text.find("start [");
  if (at == std::string_view::npos) return std::string(text);
  std::string kept(text.substr(0, at));
  long depth = 0;
  for (size_t i = at + 6; i < text.size(); ++i) {
    if (text[i] == '[') {
      ++depth;
    } else if (text[i] == ']' && --depth == 0) {
      kept.append(text.substr(i + 1));
      return kept;
    }
  }
  return kept;
}

}  // namespace kv
