// The stage around the parser: reading the main file and its uses, the sinks.
#include <utility>

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

FileAccess host_files(const std::string& main_path) {
  return FileAccess{
      [main_path](const std::string& name) { return kv::resolve_use_path(name, main_path); },
      [](const std::string& path, std::string& text) { return kv::read_file(path, text); }};
}

void lower_program(std::string_view expanded, Sink& sink) {
  Parser parser(sink);
  parser.program(expanded);
}

// The main file is read by its path as given; a used name goes through `resolve` first.
// The line origins of the expansion are the checker's concern: only the text is kept.
void run_stage(const std::string& path, Sink& sink, const FileAccess& files) {
  std::string text;
  if (!files.read(path, text)) throw CannotOpenFile(path);
  const UseReader reader = [&files](const std::string& name, std::string& body) {
    return files.read(files.resolve(name), body);
  };
  const std::string expanded = std::move(expand_uses(path, std::move(text), reader).text);
  lower_program(expanded, sink);
}

}  // namespace kv::frontend
