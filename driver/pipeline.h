// The build: six labelled steps run one after the other through the command processor,
// the optional icon, the clean-up and the progress report. Shared by kavelc and kavel.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "platform.h"

namespace kv {

// Everything up to and including the rightmost "/" or "\"; "" when there is none.
std::string dir_part(std::string_view path);

// The name between the rightmost separator and the rightmost "." after it:
// a.b.kv gives a.b, src/.kv gives .kv, dir.x/prog gives prog.
std::string base_name(std::string_view path);

// What kavelc makes of the typed line: trimmed, a UTF-8 byte-order mark dropped, and
// one pair of surrounding double quotes dropped.
std::string clean_source_line(std::string_view line);

// TEMP + "/kavel_build".
std::string build_folder();

struct BuildNames {
  std::string exe;     // output folder + base + ".exe"
  std::string folder;  // the build folder
  std::string stem;    // folder + "/" + base
  std::string ir, opt_ir, asm_file, obj, res, rc_file;
  std::string icon;    // output folder + base + ".ico"
};
BuildNames build_names(const std::string& out, const std::string& base, const std::string& folder);

struct Step {
  std::string label;
  std::string command;
};

// Steps 1 to 5: check, lowerir, opt, cg, nasm.
std::vector<Step> stage_steps(const ToolPaths& tools, const std::string& source, const BuildNames& names, Host host);
std::string icon_rc_text(const BuildNames& names);
std::string rc_command(const ToolPaths& tools, const BuildNames& names, Host host);
// extra is "" or " " + the quoted .res path.
std::string link_command(const ToolPaths& tools, const BuildNames& names, const std::string& extra, Host host);
std::string cleanup_command(const BuildNames& names, Host host);
// The built program with each argument quoted (POSIX: behind the RUN prefix).
std::string run_command(const ToolPaths& tools, const std::string& exe, const std::vector<std::string>& args, Host host);

extern const char* const link_label;  // "6/6  link "

struct Driver {
  ToolPaths tools;
  Host host = native_host;
  bool quiet = false;
  // When set, the driver's lines are collected here instead of going to standard output.
  std::string* capture = nullptr;
};

// One line of the driver's report, CR LF ended, on standard output at once.
void say(Driver& d, std::string_view line);

// Prints the label (unless quiet), runs the command, reports a non-zero exit code.
std::uint32_t run_step(Driver& d, const std::string& command, const std::string& label);

// 0 on success, 1 at the first failing step (its files stay in the build folder).
int build(Driver& d, const std::string& source, const std::string& out, const std::string& base);

// The two programs, minus their process start: exit codes as they should leave.
int kavelc_main();
std::uint32_t kavel_main(const std::vector<std::string>& args);

}  // namespace kv
