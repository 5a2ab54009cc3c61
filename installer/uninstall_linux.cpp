// uninstall as built for Linux: reverses what setup did for this user.
#ifndef _WIN32
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "linux_install.h"
#include "platform.h"
#include "stage_io.h"

int main(int argc, char** argv) {
  kv::linux_install::Env env;
  env.print = [](std::string_view line) { kv::out_line(line); };
  env.error = [](std::string_view line) {
    kv::flush_all();
    kv::err_line(line);
  };
  env.ask = [](std::string& answer) {
    kv::flush_all();
    if (!std::getline(std::cin, answer)) return false;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    return true;
  };
  env.home = kv::getenv("HOME");
  env.xdg_data_home = kv::getenv("XDG_DATA_HOME");
  env.path = kv::getenv("PATH");
  env.exe_dir = kv::exe_dir();
  int code = kv::linux_install::uninstall(kv::program_args(argc, argv), env);
  kv::flush_all();
  return code;
}
#endif
