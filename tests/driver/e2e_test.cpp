// kavelc and kavel end to end: our real stages, NASM, lld-link, llvm-rc, and the built
// programs run under Wine. Every test has its own TEMP, so its build folder is its own.
#include <gtest/gtest.h>

#ifndef _WIN32
#include "e2e_fixture.h"

namespace {

using namespace kvtest;

TEST_F(EndToEnd, KavelRunsAProgramAndLeavesNothingBehind) {
  Outcome r = kavel({program("hello").string()});
  EXPECT_EQ(r.out, "Hello from a test!\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.code, 0u);
  EXPECT_TRUE(kvtest::fs::is_directory(build_dir()));
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
}

TEST_F(EndToEnd, KavelPassesExitCodesThrough) {
  Outcome quit = kavel({program("quit").string()});
  EXPECT_EQ(quit.out, "leaving with 7\r\n");
  EXPECT_EQ(quit.code, 7u);
  Outcome div = kavel({program("div").string()});
  EXPECT_EQ(div.out, "before\r\n");
  EXPECT_EQ(div.err, "runtime error: division by zero\r\n");
  EXPECT_EQ(div.code, 1u);
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
}

TEST_F(EndToEnd, KavelHandsOverEachArgumentWhole) {
  Outcome r = kavel({program("args").string(), "a", "b c", "", "$HOME;&|", "d"});
  EXPECT_EQ(r.out, "5\r\n<a>\r\n<b c>\r\n<>\r\n<$HOME;&|>\r\n<d>\r\n");
  EXPECT_EQ(r.code, 0u);
  Outcome none = kavel({program("args").string()});
  EXPECT_EQ(none.out, "0\r\n");
}

TEST_F(EndToEnd, KavelProgramReadsTheUsersInput) {
  Outcome r = kavel({program("ask").string()}, "Bob\r\n");
  EXPECT_EQ(r.out, "name? hi Bob\r\n");
  EXPECT_EQ(r.code, 0u);
}

TEST_F(EndToEnd, KavelUsageVersionAndUnparsableName) {
  Outcome usage = kavel({});
  EXPECT_EQ(usage.out, "Usage: kavel <file.kv> [args...]\r\n       kavel --version\r\n");
  EXPECT_EQ(usage.code, 1u);
  for (const char* flag : {"--version", "-v", "--v"}) {
    Outcome v = kavel({flag, "ignored"});
    EXPECT_EQ(v.out, "Kavel Compiler v1.0.0\r\nTarget: Windows x86-64\r\n") << flag;
    EXPECT_EQ(v.code, 0u);
  }
  EXPECT_FALSE(kvtest::fs::exists(build_dir()));  // the version touched no file
  Outcome bad = kavel({"some/dir/"});
  EXPECT_EQ(bad.out, "[kavel] error: cannot parse filename\r\n");
  EXPECT_EQ(bad.code, 1u);
}

TEST_F(EndToEnd, KavelFindsUsedFilesBesideTheMainSourceAfterTheCurrentFolder) {
  // Run from the parent folder: the checker and the front end both look for a used name
  // in the current folder first, then in the main source's folder, then beside the
  // toolchain (std.kv).
  spit(dir / "sub" / "main.kv",
       "use \"std.kv\":\nuse \"helper.kv\":\nuse \"parts/more.kv\":\n"
       "start [ println(where() + \" \" + more() + \" \" + to_upper(\"std\")): ]\n");
  spit(dir / "sub" / "helper.kv", "fn where() -> text [ give \"beside\": ]\n");
  spit(dir / "sub" / "parts" / "more.kv", "fn more() -> text [ give \"nested\": ]\n");
  Outcome beside = kavel({"sub/main.kv"});
  EXPECT_EQ(beside.out, "beside nested STD\r\n");
  EXPECT_EQ(beside.err, "");
  EXPECT_EQ(beside.code, 0u);
  spit(dir / "helper.kv", "fn where() -> text [ give \"current\": ]\n");
  Outcome current = kavel({"sub/main.kv"});
  EXPECT_EQ(current.out, "current nested STD\r\n");
  EXPECT_EQ(current.code, 0u);
}

TEST_F(EndToEnd, KavelStopsAtAFailedBuild) {
  Outcome r = kavel({program("bad").string()});
  EXPECT_EQ(r.out, "[kavelc] ERROR in 1/6  check (exit 1)\r\n");
  EXPECT_NE(r.err.find("[type error]"), std::string::npos) << r.err;
  EXPECT_EQ(r.code, 1u);
}

TEST_F(EndToEnd, KavelcBuildsBesideAQuotedSourceWithByteOrderMark) {
  path src = dir / "my progs" / "hello.kv";
  kvtest::fs::create_directories(src.parent_path());
  kvtest::fs::copy_file(program("hello"), src);
  Outcome r = kavelc(" \t\xEF\xBB\xBF\"" + src.string() + "\"  \r\n");
  ASSERT_EQ(r.code, 0u) << r.out << r.err;
  EXPECT_EQ(r.err, "[err] Source (.kv): \r\n");
  path exe = dir / "my progs" / "hello.exe";
  std::vector<std::string> v = kv::split(r.out, "\r\n");
  ASSERT_EQ(v.size(), 12u) << r.out;
  EXPECT_EQ(v[0], "[kavelc] source : " + src.string());
  EXPECT_EQ(v[1], "[kavelc] output : " + exe.string());
  EXPECT_EQ(v[8], "[kavelc] 6/6  link ");
  EXPECT_TRUE(kv::starts_with(v[10], "[kavelc] done in ")) << v[10];
  EXPECT_TRUE(kv::ends_with(v[10], " ms  ->  " + exe.string())) << v[10];
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
  Outcome ran = wine(exe);
  EXPECT_EQ(ran.out, "Hello from a test!\r\n");
  EXPECT_EQ(ran.code, 0u);
}

TEST_F(EndToEnd, KavelcWithoutDirectoryBuildsInTheCurrentFolder) {
  kvtest::fs::copy_file(program("quit"), dir / "quit.kv");
  Outcome r = kavelc("quit.kv\r\n");
  ASSERT_EQ(r.code, 0u) << r.out;
  EXPECT_NE(r.out.find("[kavelc] output : quit.exe\r\n"), std::string::npos);
  EXPECT_EQ(wine(dir / "quit.exe").code, 7u);
}

TEST_F(EndToEnd, KavelcFailingCheckStopsBeforeTheFrontEnd) {
  Outcome r = kavelc(program("bad").string() + "\r\n");
  EXPECT_EQ(r.code, 1u);
  std::vector<std::string> v = kv::split(r.out, "\r\n");
  ASSERT_EQ(v.size(), 6u) << r.out;
  EXPECT_EQ(v[3], "[kavelc] 1/6  check");
  EXPECT_EQ(v[4], "[kavelc] ERROR in 1/6  check (exit 1)");
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});  // no IR was written
  EXPECT_FALSE(kvtest::fs::exists(programs / "bad.exe"));
}

TEST_F(EndToEnd, KavelcRefusesEmptyInputAndNamelessPaths) {
  Outcome empty = kavelc(" \t\r\n");
  EXPECT_EQ(empty.out, "[kavelc] error: no source file given\r\n");
  EXPECT_EQ(empty.code, 1u);
  Outcome bom_only = kavelc("\xEF\xBB\xBF\r\n");
  EXPECT_EQ(bom_only.out, "[kavelc] error: no source file given\r\n");
  Outcome nameless = kavelc("\"some/dir/\"\r\n");
  EXPECT_EQ(nameless.out, "[kavelc] error: cannot parse filename\r\n");
  EXPECT_EQ(nameless.code, 1u);
  EXPECT_FALSE(kvtest::fs::exists(build_dir()));
}

// A 1x1 icon, 32 bits a pixel.
std::string tiny_icon() {
  auto le = [](std::string& s, unsigned v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  std::string bmp;
  le(bmp, 40, 4); le(bmp, 1, 4); le(bmp, 2, 4); le(bmp, 1, 2); le(bmp, 32, 2);
  for (int i = 0; i < 6; ++i) le(bmp, 0, 4);
  le(bmp, 0xFFFF0000u, 4);  // the pixel
  le(bmp, 0, 4);            // the mask row
  std::string ico;
  le(ico, 0, 2); le(ico, 1, 2); le(ico, 1, 2);
  le(ico, 1, 1); le(ico, 1, 1); le(ico, 0, 1); le(ico, 0, 1); le(ico, 1, 2); le(ico, 32, 2);
  le(ico, static_cast<unsigned>(bmp.size()), 4); le(ico, 22, 4);
  return ico + bmp;
}

TEST_F(EndToEnd, KavelcLinksAnIconNamedAfterTheProgram) {
  if (slurp(bin_dir / "kavel_paths.cfg").find("\nRC=/") == std::string::npos)
    GTEST_SKIP() << "no resource compiler configured";
  kvtest::fs::copy_file(program("hello"), dir / "plain.kv");
  kvtest::fs::copy_file(program("hello"), dir / "iconic.kv");
  spit(dir / "iconic.ico", tiny_icon());
  ASSERT_EQ(kavelc((dir / "plain.kv").string()).code, 0u);
  ASSERT_EQ(kavelc((dir / "iconic.kv").string()).code, 0u);
  EXPECT_EQ(slurp(dir / "plain.exe").find(".rsrc"), std::string::npos);
  std::string exe = slurp(dir / "iconic.exe");
  if (exe.find(".rsrc") == std::string::npos) {
    // Say why: run the configured resource compiler by hand on the same script.
    std::string cfg = slurp(bin_dir / "kavel_paths.cfg");
    size_t at = cfg.find("\nRC=") + 4;
    std::string rc = cfg.substr(at, cfg.find_first_of("\r\n", at) - at);
    spit(dir / "by_hand.rc", "1 ICON \"" + (dir / "iconic.ico").string() + "\"");
    Outcome r = kvtest::run(dir / "io", q(rc) + " -no-preprocess -- " + q((dir / "by_hand.rc").string()));
    ADD_FAILURE() << "no icon resource; by hand the resource compiler exits " << r.code << ": " << r.out << r.err;
  }
  EXPECT_NE(exe.find(std::string("\x00\x00\xFF\xFF", 4)), std::string::npos);  // the pixel
  EXPECT_EQ(left_in_build_dir(), std::vector<std::string>{});
  EXPECT_EQ(wine(dir / "iconic.exe").out, "Hello from a test!\r\n");
}

TEST_F(EndToEnd, FailedLinkKeepsTheIntermediateFiles) {
  std::string cfg = slurp(bin_dir / "kavel_paths.cfg");
  path tools = private_toolchain("LINK=/bin/false\n" + cfg);
  kvtest::fs::copy_file(program("hello"), dir / "hello.kv");
  Outcome r = kavelc((dir / "hello.kv").string(), tools);
  EXPECT_EQ(r.code, 1u);
  EXPECT_TRUE(kv::ends_with(r.out, "[kavelc] 6/6  link \r\n[kavelc] ERROR in 6/6  link  (exit 1)\r\n")) << r.out;
  auto left = left_in_build_dir();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"hello.asm", "hello.ir", "hello.obj", "hello_opt.ir"}));
  EXPECT_FALSE(kvtest::fs::exists(dir / "hello.exe"));
  Outcome k = kavel({(dir / "hello.kv").string()}, "", tools);
  EXPECT_EQ(k.out, "[kavelc] ERROR in 6/6  link  (exit 1)\r\n");
  EXPECT_EQ(k.code, 1u);
}

TEST_F(EndToEnd, EmptyConfigurationGivesTheMissingToolsMessage) {
  path tools = private_toolchain("");
  const std::string message =
      "[kavelc] error: NASM or the MSVC linker could not be located.\r\n"
      "[kavelc] Install Visual Studio Build Tools (\"Desktop development with\r\n"
      "[kavelc] C++\" workload), then re-run the Kavel installer.\r\n";
  Outcome c = kavelc(program("hello").string(), tools);
  EXPECT_EQ(c.out, message);
  EXPECT_EQ(c.err, "");  // refused before the prompt
  EXPECT_EQ(c.code, 1u);
  Outcome k = kavel({program("hello").string()}, "", tools);
  EXPECT_EQ(k.out, message);
  EXPECT_EQ(k.code, 1u);
  EXPECT_FALSE(kvtest::fs::exists(build_dir()));
}

TEST_F(EndToEnd, MetacharactersInTheSourcePathRunNothing) {
  path odd = dir / "it's $(touch PWNED) & `touch PWNED`; x";
  kvtest::fs::create_directories(odd);
  kvtest::fs::copy_file(program("hello"), odd / "hello.kv");
  Outcome r = kavel({(odd / "hello.kv").string()});
  EXPECT_EQ(r.out, "Hello from a test!\r\n");
  EXPECT_EQ(r.code, 0u);
  Outcome c = kavelc((odd / "hello.kv").string());
  EXPECT_EQ(c.code, 0u) << c.out;
  EXPECT_TRUE(kvtest::fs::exists(odd / "hello.exe"));
  EXPECT_FALSE(kvtest::fs::exists(dir / "PWNED"));
  EXPECT_FALSE(kvtest::fs::exists("PWNED"));
}

}  // namespace
#endif
