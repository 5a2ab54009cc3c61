// The fixture of the end-to-end tests: our real stages, NASM, lld-link, llvm-rc, and the
// built programs run under Wine. Every test has its own folder and TEMP, so its build
// folder is its own.
#pragma once
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "text.h"

namespace kvtest {

using fs::path;

inline const path bin_dir = KAVEL_TEST_BIN;
inline const path programs = KAVEL_TEST_PROGRAMS;

class EndToEnd : public ::testing::Test {
 protected:
  path dir, temp;
  std::string more_env;  // further VAR=value words for the programs started

  void SetUp() override {
    dir = kvtest::fresh_folder(path(KAVEL_TEST_WORK) / "e2e");
    temp = dir / "temp";
    kvtest::fs::create_directories(temp);
  }

  std::string env() {
    return "TEMP=" + q(temp.string()) + " WINEPREFIX=" + q(KAVEL_TEST_WINEPREFIX) + " WINEDEBUG=-all " + more_env +
           " ";
  }
  Outcome kavel(const std::vector<std::string>& args, const std::string& in = "", const path& tools = bin_dir) {
    std::string cmd = "cd " + q(dir.string()) + " && " + env() + q((tools / "kavel").string());
    for (const auto& a : args) cmd += " " + q(a);
    return kvtest::run(dir / "io", cmd, in);
  }
  Outcome kavelc(const std::string& typed, const path& tools = bin_dir) {
    return kvtest::run(dir / "io", "cd " + q(dir.string()) + " && " + env() + q((tools / "kavelc").string()), typed);
  }
  Outcome wine(const path& exe) {
    return kvtest::run(dir / "io", env() + "wine " + q(exe.string()));
  }
  path program(const std::string& name) { return programs / (name + ".kv"); }
  path build_dir() { return temp / "kavel_build"; }
  // What builds and runs left in the build folder, besides the runner's cache.
  std::vector<std::string> left_in_build_dir() {
    std::vector<std::string> names;
    if (kvtest::fs::exists(build_dir()))
      for (const auto& e : kvtest::fs::directory_iterator(build_dir()))
        if (e.path().filename() != "cache") names.push_back(e.path().filename().string());
    return names;
  }
  path cache_dir() { return build_dir() / "cache"; }
  std::vector<path> cache_entries() {
    std::vector<path> entries;
    if (kvtest::fs::exists(cache_dir()))
      for (const auto& e : kvtest::fs::directory_iterator(cache_dir())) entries.push_back(e.path());
    return entries;
  }
  // A toolchain folder of our own: copies of kavelc and kavel (they find the stages and
  // kavel_paths.cfg beside themselves), links to the real stages, and the given settings.
  path private_toolchain(const std::string& cfg) {
    path t = dir / "toolchain";
    kvtest::fs::create_directories(t);
    for (const char* p : {"kavelc", "kavel"}) kvtest::fs::copy_file(bin_dir / p, t / p);
    for (const char* p : {"vetter", "lowerir", "opt", "emitasm", "std.kv"})
      kvtest::fs::create_symlink(bin_dir / p, t / p);
    spit(t / "kavel_paths.cfg", cfg);
    return t;
  }
};

}  // namespace kvtest
