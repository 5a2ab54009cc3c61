// Helpers for tests that start our programs: run a shell command with its standard
// streams captured, and keep each test's files in a folder of its own.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform.h"

namespace kvtest {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void spit(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << text;
}

inline std::string q(const std::string& s) { return kv::shell_quote(kv::Host::posix, s); }

struct Outcome {
  std::uint32_t code = 0;
  std::string out;
  std::string err;
};

// Runs command (a POSIX shell text) with stdin_text as its standard input.
inline Outcome run(const fs::path& scratch, const std::string& command, const std::string& stdin_text = "") {
  fs::create_directories(scratch);
  fs::path in = scratch / "stdin.txt", out = scratch / "stdout.txt", err = scratch / "stderr.txt";
  spit(in, stdin_text);
  Outcome r;
  r.code = kv::system("{ " + command + " ; } < " + q(in.string()) + " > " + q(out.string()) + " 2> " + q(err.string()));
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

// An empty folder named after the running test, under base.
inline fs::path fresh_folder(const fs::path& base) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = base / (std::string(info->test_suite_name()) + "." + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

}  // namespace kvtest
