#include "config.h"

#include "config_keys.h"
#include "stage_io.h"
#include "text.h"

namespace kv {

std::string lookup(const std::vector<std::string>& lines, std::string_view key, const std::string& fallback) {
  std::string prefix = std::string(key) + "=";
  for (const std::string& raw : lines) {
    std::string line = trim(raw);
    if (!starts_with(line, prefix)) continue;
    std::string rest = line.substr(prefix.size());
    if (!rest.empty()) return rest;
  }
  return fallback;
}

void set_stage_paths(ToolPaths& tools, std::string_view program_dir, Host host) {
  std::string dir(program_dir);
  std::string suffix = program_suffix(host);
  tools.checker = dir + "/vetter" + suffix;
  tools.frontend = dir + "/lowerir" + suffix;
  tools.optimiser = dir + "/opt" + suffix;
  tools.codegen = dir + "/emitasm" + suffix;
}

void set_fallback_tools(ToolPaths& tools, Host host) {
  if (host == Host::windows) {
    const std::string msvc = "C:/Program Files/Microsoft Visual Studio/18/Community/VC/Tools/MSVC/14.51.36231";
    const std::string kits = "C:/Program Files (x86)/Windows Kits/10";
    tools.nasm = "C:/Program Files/NASM/nasm.exe";
    tools.link = msvc + "/bin/HostX64/x64/link.exe";
    tools.msvcrt = msvc + "/lib/x64/msvcrt.lib";
    tools.kernel32 = kits + "/Lib/10.0.28000.0/um/x64/kernel32.Lib";
    tools.ws2_32 = kits + "/Lib/10.0.28000.0/um/x64/WS2_32.Lib";
    tools.rc = kits + "/bin/10.0.28000.0/x64/rc.exe";
    tools.run.clear();
  } else {
    // Where a Debian system keeps the cross tools.
    const std::string mingw = "/usr/x86_64-w64-mingw32/lib";
    tools.nasm = "/usr/bin/nasm";
    tools.link = "/usr/bin/lld-link";
    tools.msvcrt = mingw + "/libmsvcrt.a";
    tools.kernel32 = mingw + "/libkernel32.a";
    tools.ws2_32 = mingw + "/libws2_32.a";
    tools.rc = "/usr/bin/llvm-rc";
    tools.run = "wine";
  }
}

void apply_configuration(ToolPaths& tools, const std::string* file_text, Host host) {
  if (file_text == nullptr) {
    set_fallback_tools(tools, host);
    return;
  }
  // The file is read as a text, which ends at its first 0 byte.
  std::string_view text(*file_text);
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  std::vector<std::string> lines = split(text, "\n");
  for (const ConfigKey& k : kConfigKeys) {
    const bool read_here = k.hosts == ConfigKey::Hosts::all || host == Host::posix;
    tools.*k.field = read_here ? lookup(lines, k.key, "") : std::string();
  }
}

ToolPaths load_configuration() {
  ToolPaths tools;
  std::string dir = exe_dir();
  set_stage_paths(tools, dir, native_host);
  std::string text;
  bool ok = read_file(dir + "/kavel_paths.cfg", text);
  apply_configuration(tools, ok ? &text : nullptr, native_host);
  return tools;
}

bool tools_present(const ToolPaths& tools) { return !tools.nasm.empty() && !tools.link.empty(); }

const std::vector<std::string>& missing_tools_message() {
  static const std::vector<std::string> lines = {
      "[kavelc] error: NASM or the MSVC linker could not be located.",
      "[kavelc] Install Visual Studio Build Tools (\"Desktop development with",
      "[kavelc] C++\" workload), then re-run the Kavel installer.",
  };
  return lines;
}

}  // namespace kv
