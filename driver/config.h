// Where the stages and the external tools live: the stages beside the running program,
// the tools in kavel_paths.cfg beside it too. Shared by kavelc and kavel.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace kv {

struct ToolPaths {
  // The compiler stages, beside the running program.
  std::string checker;
  std::string frontend;
  std::string optimiser;
  std::string codegen;
  // The external tools, from kavel_paths.cfg: one member a key of config_keys.txt.
  std::string nasm;
  std::string link;
  std::string msvcrt;
  std::string kernel32;
  std::string ws2_32;
  std::string rc;
  // POSIX only: the command prefix that starts a built Windows program ("wine").
  std::string run;
};

// The value of the first line (trimmed) that starts with key + "=" and has a non-empty
// rest; fallback when there is none. Blanks around "=" do not match.
std::string lookup(const std::vector<std::string>& lines, std::string_view key, const std::string& fallback);

// program_dir + "/vetter", "/lowerir", "/opt", "/emitasm", with the host's program suffix.
void set_stage_paths(ToolPaths& tools, std::string_view program_dir, Host host);

// The tool values used when kavel_paths.cfg cannot be read at all.
void set_fallback_tools(ToolPaths& tools, Host host);

// Fills the tool values from the configuration file's text; a null text means the file
// could not be read, which gives the fallback values. A file that exists but lacks a key
// leaves that key empty.
void apply_configuration(ToolPaths& tools, const std::string* file_text, Host host);

// Stage paths beside the running program, tools from <program dir>/kavel_paths.cfg.
ToolPaths load_configuration();

// The start-up check: an assembler and a linker must be configured.
bool tools_present(const ToolPaths& tools);
const std::vector<std::string>& missing_tools_message();

}  // namespace kv
