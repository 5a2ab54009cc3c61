// setup and uninstall as built for Linux: the toolchain goes into
// ${XDG_DATA_HOME:-~/.local/share}/kavel with a kavel_paths.cfg for this machine,
// and ~/.local/bin gets kavel and kavelc links.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::linux_install {

struct Env {
  std::function<void(std::string_view)> print;  // one line on standard output
  std::function<void(std::string_view)> error;  // one line on standard error
  std::function<bool(std::string&)> ask;        // one answer line; false at end of input
  std::string home;                             // HOME
  std::string xdg_data_home;                    // XDG_DATA_HOME, empty when unset
  std::string path;                             // PATH, searched for the external tools
  std::string exe_dir;                          // folder of the running setup
  std::string tree_dir;                         // source tree: LICENSE, README.md, docs, demos
};

// The folders an install uses; empty install_dir when HOME is unusable.
std::string install_dir(const Env& env);
std::string bin_dir(const Env& env);

// The configuration text for this machine, every key of the keys' table in its order:
// programs looked up on PATH, the mingw-w64 import libraries in lib_dir.
std::string machine_config(const std::string& path_env, const std::string& lib_dir);

int setup(const std::vector<std::string>& args, const Env& env);
int uninstall(const std::vector<std::string>& args, const Env& env);

}  // namespace kv::linux_install
