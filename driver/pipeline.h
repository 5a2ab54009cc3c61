// The build: six labelled steps run one after the other through the command processor,
// the optional icon, the clean-up and the progress report. Shared by kavelc and kavel.
#pragma once
#include <cstddef>
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

// The stages read their input path in one read of at most 255 bytes.
inline constexpr std::size_t stage_path_limit = 255;

// The source path as the stages get it: as given when it fits in their read, else
// relative to the current folder when that fits; "" when neither does.
std::string path_for_stages(const std::string& source);

// False when Windows cannot hold a file of this name: it holds one of < > : " / \ | ? *
// or a control character.
bool windows_file_name(std::string_view name);
// The name with each of those characters replaced by "_".
std::string safe_program_name(std::string_view name);

// The lock that guards a build's files in the shared build folder. Builds whose files
// could meet share one: the name is lower-cased (Windows does not tell case apart) and
// loses any "_opt" at its end, since program a's optimised IR a_opt.ir is the IR of a
// program named a_opt.
std::string lock_name(std::string_view base);

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

// Steps 1 to 5: check, lowerir, opt, cg, nasm. source is the path the stages get. The IR
// files are handed to opt and emitasm by their full path when it fits in the stages' read,
// else by their name, the stage then running in the build folder.
std::vector<Step> stage_steps(const ToolPaths& tools, const std::string& source, const BuildNames& names, Host host);
std::string icon_rc_text(const BuildNames& names);
std::string rc_command(const ToolPaths& tools, const BuildNames& names, Host host);
// extra is "" or " " + the quoted .res path.
std::string link_command(const ToolPaths& tools, const BuildNames& names, const std::string& extra, Host host);
std::string cleanup_command(const BuildNames& names, Host host);
// The built program with each argument quoted (POSIX: behind the RUN prefix).
std::string run_command(const ToolPaths& tools, const std::string& exe, const std::vector<std::string>& args, Host host);

// Length of the command line the built program receives. Windows: the run command, which
// cmd.exe hands on as it stands. POSIX: the line Wine builds: the program as "X:\..." in
// double quotes, then each argument as Windows programs read one (in double quotes when
// empty or holding a blank or tab, a backslash before each double quote, and backslashes
// doubled before a double quote).
std::size_t program_command_line_length(const ToolPaths& tools, const std::string& exe,
                                        const std::vector<std::string>& args, Host host);

extern const char* const link_label;  // "6/6  link "

struct Driver {
  ToolPaths tools;
  Host host = native_host;
  bool quiet = false;
  // Where the build's files go. Empty: the shared build folder, each build holding the
  // lock of its name there; else a folder of this run's own (the runner's).
  std::string folder;
  // When set, the driver's lines are collected here instead of going to standard output.
  std::string* capture = nullptr;
};

// One line of the driver's report, CR LF ended, on standard output at once.
void say(Driver& d, std::string_view line);

// Prints the label (unless quiet), runs the command, reports a non-zero exit code.
std::uint32_t run_step(Driver& d, const std::string& command, const std::string& label);

// Sets NASMENV to the driver's default options for the assembler unless the user set it.
void default_assembler_options();

// 0 on success, 1 at the first failing step (its files stay in the build folder), or when
// a path cannot be handed to the stages or the build folder cannot be written.
int build(Driver& d, const std::string& source, const std::string& out, const std::string& base);

// The two programs, minus their process start: exit codes as they should leave.
int kavelc_main();
std::uint32_t kavel_main(const std::vector<std::string>& args);

}  // namespace kv
