// vetter: declaration, call, type and field-privacy checks over a Kavel source and the
// files it pulls in with `use`. The library takes texts and gives diagnostics and a
// count; the program around it (main.cpp) does the prompt, the progress lines and the
// exit status.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "source.h"

namespace kv::vetter {

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

}  // namespace kv::vetter
