// setup: on Windows the installer of the toolchain into LOCALAPPDATA/Kavel; on Linux
// the install into the user's data folder with links in ~/.local/bin.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform.h"
#include "stage_io.h"

#ifdef _WIN32
#include <fstream>

#include "setup.h"

namespace {

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << text;
  out.close();
  return !out.fail();
}

}  // namespace

int main(int argc, char** argv) {
  kv::setup::Host host;
  host.print = [](std::string_view line) { kv::out_line(line); };
  host.error = [](std::string_view line) {
    kv::flush_all();
    kv::err_line(line);
  };
  host.system = [](const std::string& command) { return static_cast<unsigned>(kv::system(command)); };
  host.read_file = [](const std::string& path, std::string& out) { return kv::read_file(path, out); };
  host.write_file = write_file;
  host.exe_dir = kv::exe_dir();
  host.local_app_data = kv::getenv("LOCALAPPDATA");
  int code = kv::setup::run(kv::program_args(argc, argv), host);
  kv::flush_all();
  return code;
}

#else
#include "linux_install.h"

#ifndef KAVEL_SOURCE_TREE
#define KAVEL_SOURCE_TREE ""
#endif

int main(int argc, char** argv) {
  kv::linux_install::Env env;
  env.print = [](std::string_view line) { kv::out_line(line); };
  env.error = [](std::string_view line) {
    kv::flush_all();
    kv::err_line(line);
  };
  env.home = kv::getenv("HOME");
  env.xdg_data_home = kv::getenv("XDG_DATA_HOME");
  env.path = kv::getenv("PATH");
  env.exe_dir = kv::exe_dir();
  env.tree_dir = KAVEL_SOURCE_TREE;
  int code = kv::linux_install::setup(kv::program_args(argc, argv), env);
  kv::flush_all();
  return code;
}
#endif
