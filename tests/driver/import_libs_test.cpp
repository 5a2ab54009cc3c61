// The import libraries the build makes for the linker: they define exactly the Windows
// functions the runtime declares, and a program linked against them imports the same
// functions from the same DLLs as one linked against the system's import libraries.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <algorithm>
#include <set>

#include "e2e_fixture.h"

namespace {

using namespace kvtest;

// The names of the extern lines of the runtime module's header piece.
std::set<std::string> runtime_imports() {
  std::string module = slurp(path(KAVEL_TEST_SOURCE) / "runtime" / "module.asm");
  size_t start = module.find("; ---- header");
  size_t end = module.find("; ---- ", start + 1);
  std::set<std::string> names;
  for (const std::string& line : kv::split(module.substr(start, end - start), "\n")) {
    if (!kv::starts_with(line, "extern ")) continue;
    for (const std::string& name : kv::split(line.substr(7), ",")) names.insert(kv::trim(name));
  }
  return names;
}

std::string configured(const std::string& key) {
  for (const std::string& line : kv::split(slurp(bin_dir / "kavel_paths.cfg"), "\n"))
    if (kv::starts_with(line, key + "=")) return kv::trim(line.substr(key.size() + 1));
  return "";
}

// llvm-readobj's list of a program's imports, one "DLL function" a line, sorted; the
// DLL name in lower case, as Windows compares them.
std::vector<std::string> imports_of(const path& scratch, const path& exe) {
  Outcome r = kvtest::run(scratch, "llvm-readobj --coff-imports " + q(exe.string()));
  EXPECT_EQ(r.code, 0u) << r.err;
  std::vector<std::string> rows;
  std::string dll;
  for (std::string line : kv::split(r.out, "\n")) {
    line = kv::trim(line);
    if (kv::starts_with(line, "Name: ")) {
      dll = line.substr(6);
      std::transform(dll.begin(), dll.end(), dll.begin(), ::tolower);
    } else if (kv::starts_with(line, "Symbol: ")) {
      rows.push_back(dll + " " + line.substr(8, line.find(" (") - 8));  // without the hint
    }
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST_F(EndToEnd, ImportLibrariesHoldExactlyTheRuntimesImports) {
  const std::vector<std::string> keys = {"MSVCRT", "KERNEL32", "WS2_32"};
  if (configured("KERNEL32") != (bin_dir / "kernel32.lib").string())
    GTEST_SKIP() << "the build uses the system's import libraries (no llvm-dlltool)";
  std::set<std::string> defined;
  for (const std::string& key : keys) {
    Outcome r = kvtest::run(dir / "io", "llvm-nm --defined-only -j " + q(configured(key)));
    ASSERT_EQ(r.code, 0u) << key << ": " << r.err;
    for (const std::string& name : kv::split(r.out, "\n")) {
      // Each function comes with its __imp_ pointer; the rest is the DLL's own bookkeeping.
      if (!kv::starts_with(name, "__imp_")) continue;
      EXPECT_TRUE(defined.insert(name.substr(6)).second) << name << " twice";
    }
  }
  EXPECT_EQ(defined, runtime_imports());

  // One object linked both ways.
  spit(dir / "hello.kv", slurp(program("hello")));
  const std::string bin = q(bin_dir.string());
  Outcome made = kvtest::run(
      dir / "io", "cd " + q(dir.string()) + " && echo hello.kv | " + bin + "/lowerir > hello.ir && echo hello.ir | " +
                      bin + "/opt > hello_opt.ir && echo hello_opt.ir | " + bin +
                      "/emitasm > hello.asm && " + q(configured("NASM")) + " -f win64 hello.asm -o hello.obj");
  ASSERT_EQ(made.code, 0u) << made.err;
  auto link = [&](const std::string& libs, const std::string& exe) {
    Outcome r = kvtest::run(dir / "io", "cd " + q(dir.string()) + " && lld-link /subsystem:console /entry:kv_start "
                                                                  "/nodefaultlib hello.obj " + libs + " /out:" + exe);
    EXPECT_EQ(r.code, 0u) << r.out << r.err;
  };
  std::string ours, system;
  for (const std::string& key : keys) ours += " " + q(configured(key));
  for (const char* lib : {"libmsvcrt.a", "libkernel32.a", "libws2_32.a"})
    system += " " + q((path(KAVEL_TEST_MINGW_LIB) / lib).string());
  link(ours, "ours.exe");
  link(system, "system.exe");
  std::vector<std::string> with_ours = imports_of(dir / "io", dir / "ours.exe");
  EXPECT_EQ(with_ours, imports_of(dir / "io", dir / "system.exe"));
  EXPECT_GT(with_ours.size(), 20u);  // the whole runtime comes with every program
}

}  // namespace
#endif
