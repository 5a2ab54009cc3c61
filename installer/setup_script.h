// The PowerShell script setup writes and runs: it finds the linker and the SDK
// libraries, writes kavel_paths.cfg, puts the install folder on the user's PATH and,
// for a standalone install, registers the .kv file type and the uninstall entry.
#pragma once
#include <string>

namespace kv::setup {

// The whole script, every line ended by LF. from_package leaves out the registry part.
std::string script_text(bool from_package);
int script_line_count(bool from_package);

}  // namespace kv::setup
