// The front end: Kavel source text in, IR lines out. Everything the program `lowerir`
// does is callable in-process here; main.cpp only wires it to the standard streams.
#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "source.h"

namespace kv::frontend {

// Where IR lines and diagnostics go. `diag` receives the message without the "[err] "
// prefix and without the line end.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void ir_line(std::string_view line) = 0;
  virtual void diag(std::string_view message) = 0;
};

// Collects the exact bytes the stage writes: IR lines and "[err] " lines, each with CR LF.
class StringSink : public Sink {
 public:
  std::string ir;
  std::string err;
  void ir_line(std::string_view line) override;
  void diag(std::string_view message) override;
};

// How `use` paths are resolved and files read; the host version uses the file system
// (resolve_use_path for the main source at main_path), tests and the fuzzer give an
// in-memory one.
struct FileAccess {
  std::function<std::string(const std::string& name)> resolve;
  std::function<bool(const std::string& path, std::string& text)> read;
};
FileAccess host_files(const std::string& main_path);

// Interpolations inside interpolations re-lex their text once per level; the bound keeps
// the work linear in the source size.
constexpr int kMaxInterpolationNesting = 16;
// Longest token text quoted in a diagnostic; a longer one is cut there and ends in "...".
constexpr size_t kMaxDiagValue = 256;

// Lexes and lowers an expanded source, writing IR lines and diagnostics to `sink`.
void lower_program(std::string_view expanded, Sink& sink);

// The stage after its prompt: read the main file, expand its uses (common/source.h),
// lower. Throws kv::CannotOpenFile before any IR line is written.
void run_stage(const std::string& path, Sink& sink, const FileAccess& files);

}  // namespace kv::frontend
