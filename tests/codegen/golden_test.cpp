// Golden tests: each golden/<case>.ir beside golden/<case>.asm, which holds the exact
// bytes of the program's own routines (kv_user_main up to the runtime block) followed by
// the data and bss sections. The runtime block is a small stand-in that interns "{",
// ", " and "}" the way the list printer does, so the pools come out as in a real module.
// KAVEL_UPDATE_GOLDEN=1 rewrites the .asm files (review every change before committing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "emitasm.h"

namespace fs = std::filesystem;

namespace {

const char* const kStandInRuntime =
    "; stand-in for the runtime text\n"
    "kv_alloc:\n"
    "    ret\n"
    "kv_print_list:\n"
    "    lea rcx, [@@{@@]\n"
    "    lea rcx, [@@, @@]\n"
    "    lea rcx, [@@}@@]\n"
    "    ret\n";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The program's routines, then the data and bss sections.
std::string golden_part(const std::string& module) {
  size_t body = module.find("kv_user_main:\r\n");
  size_t runtime = module.find("\r\nkv_alloc:\r\n");
  size_t data = module.find("\r\nsection .data\r\n");
  if (body == std::string::npos || runtime == std::string::npos || data == std::string::npos) return module;
  return module.substr(body, runtime + 2 - body) + module.substr(data + 2);
}

TEST(Golden, EveryCaseMatches) {
  bool update = std::getenv("KAVEL_UPDATE_GOLDEN") != nullptr;
  int cases = 0;
  for (const auto& entry : fs::directory_iterator(KAVEL_GOLDEN_DIR)) {
    if (entry.path().extension() != ".ir") continue;
    ++cases;
    fs::path expected_path = entry.path();
    expected_path.replace_extension(".asm");
    std::string actual = golden_part(kv::emit_module_with_runtime(slurp(entry.path()), kStandInRuntime));
    if (update) {
      std::ofstream(expected_path, std::ios::binary) << actual;
      continue;
    }
    ASSERT_TRUE(fs::exists(expected_path)) << expected_path;
    EXPECT_EQ(slurp(expected_path), actual) << "golden case " << entry.path().filename();
  }
  EXPECT_GE(cases, 10);
}

}  // namespace
