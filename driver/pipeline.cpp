#include "pipeline.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "build_cache.h"
#include "stage_io.h"
#include "text.h"

namespace kv {

const char* const link_label = "6/6  link ";

std::string dir_part(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string base_name(std::string_view path) {
  size_t sep = path.find_last_of("/\\");
  size_t start = sep == std::string_view::npos ? 0 : sep + 1;
  size_t dot = path.find_last_of('.');
  size_t end = dot != std::string_view::npos && dot > start ? dot : path.size();
  return std::string(path.substr(start, end - start));
}

std::string clean_source_line(std::string_view line) {
  std::string path = trim(line);
  if (starts_with(path, "\xEF\xBB\xBF")) path.erase(0, 3);
  if (!path.empty() && path.front() == '"' && path.back() == '"')
    path = path.size() >= 2 ? path.substr(1, path.size() - 2) : std::string();
  return path;
}

std::string build_folder() { return temp_folder() + "/kavel_build"; }

std::string path_for_stages(const std::string& source) {
  if (source.size() <= stage_path_limit) return source;
  std::error_code failed;
  std::string relative = std::filesystem::relative(source, failed).string();
  if (!failed && !relative.empty() && relative.size() <= stage_path_limit) return relative;
  return "";
}

namespace {
bool windows_forbids(char c) {
  return static_cast<unsigned char>(c) < 32 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
}
}  // namespace

bool windows_file_name(std::string_view name) {
  for (char c : name)
    if (windows_forbids(c)) return false;
  return true;
}

std::string safe_program_name(std::string_view name) {
  std::string safe(name);
  for (char& c : safe)
    if (windows_forbids(c)) c = '_';
  return safe;
}

std::string lock_name(std::string_view base) {
  std::string name(base);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  while (ends_with(name, "_opt")) name.resize(name.size() - 4);
  return name;
}

BuildNames build_names(const std::string& out, const std::string& base, const std::string& folder) {
  BuildNames n;
  n.exe = out + base + ".exe";
  n.folder = folder;
  n.stem = folder + "/" + base;
  n.ir = n.stem + ".ir";
  n.opt_ir = n.stem + "_opt.ir";
  n.asm_file = n.stem + ".asm";
  n.obj = n.stem + ".obj";
  n.res = n.stem + ".res";
  n.rc_file = n.stem + ".rc";
  n.icon = out + base + ".ico";
  return n;
}

std::vector<Step> stage_steps(const ToolPaths& tools, const std::string& source, const BuildNames& names, Host host) {
  auto q = [host](std::string_view s) { return shell_quote(host, s); };
  const std::string null = null_device(host);
  auto echo_built = [&](const std::string& path) {
    if (path.size() <= stage_path_limit) return echo_command(host, path);
    return change_folder_command(host, names.folder) + echo_command(host, path.substr(names.folder.size() + 1));
  };
  return {
      {"1/6  check", echo_command(host, source) + " | " + q(tools.checker) + " > " + null},
      {"2/6  lowerir", echo_command(host, source) + " | " + q(tools.frontend) + " > " + q(names.ir) + " 2>" + null},
      {"3/6  opt  ", echo_built(names.ir) + " | " + q(tools.optimiser) + " > " + q(names.opt_ir) + " 2>" + null},
      {"4/6  cg   ", echo_built(names.opt_ir) + " | " + q(tools.codegen) + " > " + q(names.asm_file) + " 2>" + null},
      {"5/6  nasm ", q(tools.nasm) + " -f win64 " + q(names.asm_file) + " -o " + q(names.obj)},
  };
}

std::string icon_rc_text(const BuildNames& names) { return "1 ICON \"" + names.icon + "\""; }

std::string rc_command(const ToolPaths& tools, const BuildNames& names, Host host) {
  // Our one-line script needs no C preprocessor. On Linux, llvm-rc would otherwise start clang
  // and write a temporary file outside the build folder, and either failing silently costs the
  // icon; asked not to, it reads the script as it stands. It also takes any argument starting
  // with "/" for an option ("/check/..." would be its code-page switch), so "--" ends the options
  // before our absolute path.
  const char* options = host == Host::posix ? " -no-preprocess -- " : " ";
  return shell_quote(host, tools.rc) + options + shell_quote(host, names.rc_file) + " > " + null_device(host) +
         " 2>&1";
}

std::string link_command(const ToolPaths& tools, const BuildNames& names, const std::string& extra, Host host) {
  auto q = [host](std::string_view s) { return shell_quote(host, s); };
  return q(tools.link) + " /subsystem:console /entry:kv_start /nodefaultlib " + q(names.obj) + extra + " " +
         q(tools.msvcrt) + " " + q(tools.kernel32) + " " + q(tools.ws2_32) + " /out:" + q(names.exe) + " > " +
         null_device(host) + " 2>&1";
}

std::string cleanup_command(const BuildNames& names, Host host) {
  return delete_files_command(host, {names.ir, names.opt_ir, names.asm_file, names.obj, names.res});
}

std::string run_command(const ToolPaths& tools, const std::string& exe, const std::vector<std::string>& args, Host host) {
  std::string cmd;
  if (host == Host::posix && !tools.run.empty()) cmd = tools.run + " ";
  cmd += shell_quote(host, exe);
  for (const std::string& a : args) {
    cmd += ' ';
    if (host == Host::windows) {
      // Built programs know no escape for a double quote inside an argument; one left
      // in would close the quotes early and hand the rest of the argument to cmd.exe.
      std::string plain;
      for (char c : a)
        if (c != '"') plain += c;
      cmd += shell_quote(host, plain);
    } else {
      cmd += shell_quote(host, a);
    }
  }
  return cmd;
}

namespace {
std::size_t windows_argument_length(std::string_view arg) {
  const bool quoted = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
  std::size_t length = arg.size() + (quoted ? 2 : 0);
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '"') length += backslashes + 1;
    backslashes = c == '\\' ? backslashes + 1 : 0;
  }
  return length + (quoted ? backslashes : 0);
}
}  // namespace

std::size_t program_command_line_length(const ToolPaths& tools, const std::string& exe,
                                        const std::vector<std::string>& args, Host host) {
  if (host == Host::windows) return run_command(tools, exe, args, host).size();
  std::size_t length = exe.size() + 4;
  for (const std::string& a : args) length += 1 + windows_argument_length(a);
  return length;
}

void say(Driver& d, std::string_view line) {
  if (d.capture) {
    d.capture->append(line);
    d.capture->append("\r\n");
    return;
  }
  out_line(line);
  flush_all();
}

std::uint32_t run_step(Driver& d, const std::string& command, const std::string& label) {
  if (!d.quiet) say(d, "[kavelc] " + label);
  std::uint32_t code = system(command);
  if (code != 0) say(d, "[kavelc] ERROR in " + label + " (exit " + std::to_string(code) + ")");
  return code;
}

namespace {

bool write_text_file(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f << text;
  return static_cast<bool>(f.flush());
}

}  // namespace

void default_assembler_options() {
  // NASM's default optimiser sizes every jump in extra passes over the whole module, about
  // one pass per 80 lines: a 20,000-line program took a minute. One optimising pass gives
  // the same program, a tenth larger, in linear time. The command line stays as it is; the
  // assembler reads default options from NASMENV, and a user's own setting wins.
  if (getenv("NASMENV").empty()) setenv("NASMENV", "-O1");
}

int build(Driver& d, const std::string& source, const std::string& out, const std::string& base) {
  default_assembler_options();
  const bool shared = d.folder.empty();
  BuildNames n = build_names(out, base, shared ? build_folder() : d.folder);
  // A stage would read the first 255 bytes of a longer path and build whatever file they
  // name. The IR files can always be handed by their name alone, unless that is too long.
  const std::string staged = path_for_stages(source);
  std::string too_long;
  if (staged.empty())
    too_long = source;
  else if (n.opt_ir.size() - n.folder.size() - 1 > stage_path_limit)
    too_long = n.opt_ir;
  if (!too_long.empty()) {
    say(d, "[kavelc] error: path longer than " + std::to_string(stage_path_limit) + " bytes: " + too_long);
    return 1;
  }
  if (shared) system(make_folder_command(d.host, n.folder));
  if (!d.quiet) {
    say(d, "[kavelc] source : " + source);
    say(d, "[kavelc] output : " + n.exe);
    say(d, "[kavelc] -------");
  }
  // Builds of programs of one name share their files here: they take turns.
  FileLock lock;
  if (shared && !lock.acquire(n.folder + "/" + lock_name(base) + ".lock")) {
    say(d, "[kavelc] error: cannot write in the build folder " + n.folder);
    return 1;
  }
  std::uint64_t t0 = clock();
  for (const Step& step : stage_steps(d.tools, staged, n, d.host))
    if (run_step(d, step.command, step.label) != 0) return 1;

  // An icon named after the program, beside the output, becomes its resource; a failing
  // resource compiler only costs the icon.
  std::string extra;
  if (!d.tools.rc.empty() && can_open(n.icon) && write_text_file(n.rc_file, icon_rc_text(n))) {
    if (system(rc_command(d.tools, n, d.host)) == 0) {
      extra = " ";
      extra += shell_quote(d.host, n.res);
    }
    system(delete_files_command(d.host, {n.rc_file}));
  }
  if (run_step(d, link_command(d.tools, n, extra, d.host), link_label) != 0) return 1;
  system(cleanup_command(n, d.host));
  if (!d.quiet) {
    std::uint64_t elapsed = clock() - t0;
    say(d, "[kavelc] -------");
    say(d, "[kavelc] done in " + std::to_string(elapsed) + " ms  ->  " + n.exe);
  }
  return 0;
}

namespace {

// Both programs start the same way: the tools come first, and a missing one stops everything
// with the message that says where to set it.
bool load_tools(Driver& d) {
  d.tools = load_configuration();
  if (tools_present(d.tools)) return true;
  for (const std::string& line : missing_tools_message()) say(d, line);
  return false;
}

}  // namespace

int kavelc_main() {
  Driver d;
  if (!load_tools(d)) return 1;
  err_diag("Source (.kv): ");
  // The whole line: a path cut at 255 bytes could name another file.
  std::string path = clean_source_line(read_line());
  if (path.empty()) {
    say(d, "[kavelc] error: no source file given");
    return 1;
  }
  std::string base = base_name(path);
  if (base.empty()) {
    say(d, "[kavelc] error: cannot parse filename");
    return 1;
  }
  // The program is written beside the source under the source's name.
  std::string exe = dir_part(path) + base + ".exe";
  if (!windows_file_name(base)) {
    say(d, "[kavelc] error: not a valid Windows file name: " + exe);
    return 1;
  }
  return build(d, path, dir_part(path), base) != 0 ? 1 : 0;
}

namespace {

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Under Wine, keep Wine's own chatter away from the program's output: no debug channels
// unless the user asked for some, and a first-time prefix is created quietly beforehand.
void prepare_posix_runner(const ToolPaths& tools) {
  if (std::getenv("WINEDEBUG") == nullptr) setenv("WINEDEBUG", "-all");
  std::string first = tools.run.substr(0, tools.run.find(' '));
  std::string name = first.substr(first.find_last_of('/') == std::string::npos ? 0 : first.find_last_of('/') + 1);
  if (!starts_with(name, "wine")) return;
  std::string prefix = getenv("WINEPREFIX");
  if (prefix.empty()) prefix = getenv("HOME") + "/.wine";
  if (file_exists(prefix + "/system.reg")) return;
  // No .NET or browser add-ons for a prefix that only runs console programs.
  system("WINEDLLOVERRIDES='mscoree,mshtml=' " + tools.run + " wineboot --init > /dev/null 2>&1 < /dev/null");
}

// The program in the run's folder as exe: the one built last time from the same inputs
// when the cache has it, else built now (and then stored, unless an input changed while
// it was built).
bool cached_or_built(Driver& d, const std::string& source, const std::string& name, const std::string& exe) {
  const BuildCache cache = open_cache(build_folder());
  std::string key;
  if (!cache.folder.empty()) {
    default_assembler_options();
    key = build_key(d.tools, path_for_stages(source), name, d.host);
  }
  if (cache_fetch(cache, key, exe)) return true;
  if (build(d, source, d.folder + "/", name) != 0) return false;
  if (!key.empty() && build_key(d.tools, path_for_stages(source), name, d.host) == key)
    cache_store(cache, key, exe, d.folder + "/entry.part");
  return true;
}

}  // namespace

std::uint32_t kavel_main(const std::vector<std::string>& args) {
  Driver d;
  if (!load_tools(d)) return 1;
  const std::string version = "1.0.0";
  const bool help = !args.empty() && (args[0] == "--help" || args[0] == "-h");
  if (args.empty() || help) {
    say(d, "Usage: kavel <file.kv> [args...]");
    say(d, "       kavel --version");
    return help ? 0 : 1;
  }
  if (args[0] == "--version" || args[0] == "-v" || args[0] == "--v") {
    say(d, "Kavel Compiler v" + version);
    say(d, "Target: Windows x86-64");
    return 0;
  }
  const std::string& source = args[0];
  std::string base = base_name(source);
  if (base.empty()) {
    say(d, "[kavel] error: cannot parse filename");
    return 1;
  }
  if (!can_open(source)) {
    say(d, "[kavel] error: cannot open file: " + source);
    return 1;
  }
  // A folder of this run's own, so runs at the same time never meet; the program in it
  // gets a name Windows can start.
  d.quiet = true;
  const std::string shared = build_folder();
  // Made here rather than by a shell's mkdir: a run from the cache starts no other process
  // before the program.
  std::error_code ignored;
  std::filesystem::create_directories(shared, ignored);
  d.folder = make_private_folder(shared);
  if (d.folder.empty()) {
    say(d, "[kavel] error: cannot write in the build folder " + shared);
    return 1;
  }
  std::string name = safe_program_name(base);
  std::string exe = d.folder + "/" + name + ".exe";
  std::vector<std::string> rest(args.begin() + 1, args.end());
  std::uint32_t code = 1;
  std::size_t length = program_command_line_length(d.tools, exe, rest, d.host);
  if (length > max_command_line) {
    say(d, "[kavel] error: the arguments make a command line of " + std::to_string(length) +
               " characters; Windows takes at most " + std::to_string(max_command_line));
  } else if (cached_or_built(d, source, name, exe)) {
    if (d.host == Host::posix) prepare_posix_runner(d.tools);
    code = system(run_command(d.tools, exe, rest, d.host));
  }
  remove_folder(d.folder);
  return code;
}

}  // namespace kv
