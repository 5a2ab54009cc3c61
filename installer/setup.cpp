#include "setup.h"

#include "platform.h"
#include "setup_script.h"
#include "text.h"

namespace kv::setup {

const std::vector<std::string> kPayloadFiles = {
    "kavelc.exe", "kavel.exe",   "vetter.exe",    "lowerir.exe", "opt.exe",  "emitasm.exe",
    "emitasm_prev.exe", "std.kv", "kavelweb.kv", "uninstall.exe", "LICENSE", "README.md"};

const std::vector<std::string> kDemoFiles = {
    "01_hello.kv", "02_add.kv",      "03_list.kv", "04_forloop.kv", "05_objects_functions_trycatch.kv",
    "06_class_style.kv", "07_map_float.kv", "demo.kv", "demo2.kv", "demoweb.kv"};

namespace {

const char kRule[] = "=======================================";
// The demos name the library by the folder it lives in on the machine they were
// written on; setup points them at the install folder's copy.
const char kDemoLibraryFolder[] = "d:/Kavel";
const char kCannotOpen[] = "runtime error: cannot open file";

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

std::string mkdir_command(const std::string& folder) {
  return "mkdir " + quoted(backslashed(folder)) + " 2>NUL";
}

std::string copy_file_command(const std::string& from, const std::string& to) {
  return "copy /Y " + quoted(backslashed(from)) + " " + quoted(backslashed(to)) + " >NUL";
}

// xcopy reads a "/" as the start of a switch, so the folders get Windows separators
// like every other path handed to the command processor.
std::string copy_folder_command(const std::string& from, const std::string& to) {
  return "xcopy /Y /I /E /Q " + quoted(backslashed(from)) + " " + quoted(backslashed(to)) + " >NUL";
}

bool from_package(const std::vector<std::string>& args) {
  return !args.empty() && args[0] == "--from-inno";
}

int run(const std::vector<std::string>& args, const Host& host) {
  bool package = from_package(args);
  // Without LOCALAPPDATA the install folder would be "/Kavel" at the root of the
  // current drive, outside the user's profile: refuse instead.
  if (host.local_app_data.empty()) {
    host.error("setup: LOCALAPPDATA is not set; cannot choose the install folder");
    return 1;
  }
  const std::string source = host.exe_dir;
  const std::string install = host.local_app_data + "/Kavel";

  host.print(kRule);
  host.print(" Kavel Setup");
  host.print(kRule);
  host.print("Install directory: " + install);
  host.print("");

  if (!package) {
    host.print("Source (payload):  " + source);
    host.system(mkdir_command(install));
    host.system(mkdir_command(install + "/tools"));
    for (const std::string& name : kPayloadFiles) {
      host.print("  copying " + name);
      host.system(copy_file_command(source + "/" + name, install + "/" + name));
    }
    host.print("  copying tools/nasm.exe");
    host.system(copy_file_command(source + "/tools/nasm.exe", install + "/tools/nasm.exe"));
    host.print("  copying docs/");
    host.system(copy_folder_command(source + "/docs", install + "/docs"));
    host.print("  copying demos/");
    host.system(copy_folder_command(source + "/demos", install + "/demos"));
  }

  host.print("  fixing demo use-paths...");
  for (const std::string& name : kDemoFiles) {
    std::string path = install + "/demos/" + name;
    std::string text;
    if (!host.read_file(path, text) ||
        !host.write_file(path, kv::replace(text, kDemoLibraryFolder, install))) {
      host.print("    (skipped " + name + ": " + kCannotOpen + ")");
    }
  }

  std::string script = install + "/_kavel_setup.ps1";
  // Without the script nothing would be configured: stop the way a failed write
  // stops any program, with the runtime's message and exit code 1.
  if (!host.write_file(script, script_text(package))) {
    host.error(kCannotOpen);
    return 1;
  }

  host.print("");
  host.print("Detecting Visual Studio / Windows SDK, updating PATH...");
  host.system("powershell -NoProfile -ExecutionPolicy Bypass -File " + quoted(script));
  host.system("del " + quoted(backslashed(script)));

  host.print("");
  host.print(kRule);
  host.print(" Kavel installed to " + install);
  host.print(" Restart your terminal, then run:  kavel --version");
  host.print(kRule);
  return 0;
}

}  // namespace kv::setup
