#include "setup.h"

#include "platform.h"
#include "setup_script.h"
#include "shipped_files.h"
#include "text.h"

namespace kv::setup {
namespace {

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
    for (const shipped::Item& item : shipped::kPayload) {
      const std::string name = shipped::windows_name(item);
      if (item.kind == shipped::Kind::folder) {
        host.print("  copying " + name + "/");
        host.system(copy_folder_command(source + "/" + name, install + "/" + name));
      } else {
        host.print("  copying " + name);
        host.system(copy_file_command(source + "/" + name, install + "/" + name));
      }
    }
  }

  host.print("  fixing demo use-paths...");
  for (std::string_view demo : shipped::kDemos) {
    const std::string name(demo);
    std::string path = install + "/demos/" + name;
    std::string text;
    if (!host.read_file(path, text) ||
        !host.write_file(path, kv::replace(text, kDemoLibraryFolder, install))) {
      host.print("    (skipped " + name + ": " + std::string(kCannotOpen) + ")");
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
