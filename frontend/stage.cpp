// The stage around the parser: `use` expansion, reading the main file, the sinks.
#include "lowerir.h"
#include "parser.h"
#include "source.h"
#include "stage_io.h"

namespace kv::frontend {

void StringSink::ir_line(std::string_view line) {
  ir.append(line);
  ir.append("\r\n");
}

void StringSink::diag(std::string_view message) {
  err.append("[err] ");
  err.append(message);
  err.append("\r\n");
}

FileAccess host_files() {
  return FileAccess{
      [](const std::string& name) { return kv::resolve_use_path(name); },
      [](const std::string& path, std::string& text) { return kv::read_file(path, text); }};
}

std::string expand_uses(std::string_view text, UsedFiles& used, const FileAccess& files) {
  std::string result;
  const size_t n = text.size();
  size_t mark = 0;
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '"') {
      // Skip the literal: a backslash hides the byte after it.
      ++i;
      while (i < n && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
      i = i < n ? i + 1 : n;
    } else if (c == '/' && i + 1 < n && text[i + 1] == '/') {
      while (i < n && text[i] != '\n') ++i;
    } else if (text.compare(i, 4, "use ") == 0 && i + 4 < n && text[i + 4] == '"') {
      result.append(text.substr(mark, i - mark));
      const size_t path_start = i + 5;
      size_t path_end = text.find('"', path_start);
      if (path_end == std::string_view::npos) path_end = n;
      const std::string path(text.substr(path_start, path_end - path_start));
      const size_t colon = path_end < n ? text.find(':', path_end + 1) : std::string_view::npos;
      i = colon == std::string_view::npos ? n : colon + 1;
      mark = i;
      if (used.add(path)) {
        std::string body;
        if (!files.read(files.resolve(path), body)) throw CannotOpen{};
        result.append(expand_uses(strip_start_block(body), used, files));
        result.push_back('\n');
      }
    } else {
      ++i;
    }
  }
  result.append(text.substr(mark));
  return result;
}

void lower_program(std::string_view expanded, Sink& sink) {
  Parser parser(sink);
  parser.program(expanded);
}

void run_stage(const std::string& path, Sink& sink, const FileAccess& files) {
  UsedFiles used;
  used.add(path);
  std::string text;
  if (!files.read(path, text)) throw CannotOpen{};
  const std::string expanded = expand_uses(text, used, files);
  text.clear();
  text.shrink_to_fit();
  lower_program(expanded, sink);
}

}  // namespace kv::frontend
