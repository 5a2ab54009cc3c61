// Source-file helpers that the front end and the checker share for `use` expansion.
#pragma once
#include <string>
#include <string_view>

namespace kv {

// A name holding "/" or "\" is used as written; a bare name that opens in the current
// folder is used as written; otherwise it is looked for beside the running executable.
std::string resolve_use_path(const std::string& name);

// Removes the first "start [" block (brackets counted without regard to strings or
// comments); an unbalanced block removes everything from "start [" on.
std::string strip_start_block(std::string_view text);

}  // namespace kv
