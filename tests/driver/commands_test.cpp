// Names a build derives from a source path, and the command lines it runs on each host.
#include <gtest/gtest.h>

#include <cstdlib>

#include "pipeline.h"
#include "platform.h"
#include "text.h"

namespace {

using kv::Host;

TEST(Names, BaseNameTakesTheRightmostSeparatorAndDot) {
  EXPECT_EQ(kv::base_name("a.b.kv"), "a.b");
  EXPECT_EQ(kv::base_name("src/.kv"), ".kv");
  EXPECT_EQ(kv::base_name("dir.x/prog"), "prog");
  EXPECT_EQ(kv::base_name("C:\\p\\x.kv"), "x");
  EXPECT_EQ(kv::base_name("mixed/dir\\deep/prog.kv"), "prog");
  EXPECT_EQ(kv::base_name("prog."), "prog");
  EXPECT_EQ(kv::base_name("dir/"), "");
  EXPECT_EQ(kv::base_name(""), "");
}

TEST(Names, OutputFolderKeepsItsSeparator) {
  EXPECT_EQ(kv::dir_part("C:/p/x.kv"), "C:/p/");
  EXPECT_EQ(kv::dir_part("C:\\p\\x.kv"), "C:\\p\\");
  EXPECT_EQ(kv::dir_part("x.kv"), "");
  kv::BuildNames n = kv::build_names(kv::dir_part("x.kv"), "x", "/t/kavel_build");
  EXPECT_EQ(n.exe, "x.exe");
  EXPECT_EQ(n.icon, "x.ico");
  EXPECT_EQ(n.ir, "/t/kavel_build/x.ir");
  EXPECT_EQ(n.opt_ir, "/t/kavel_build/x_opt.ir");
  EXPECT_EQ(n.asm_file, "/t/kavel_build/x.asm");
  EXPECT_EQ(n.obj, "/t/kavel_build/x.obj");
  EXPECT_EQ(n.res, "/t/kavel_build/x.res");
  EXPECT_EQ(n.rc_file, "/t/kavel_build/x.rc");
}

TEST(Names, TypedLineLosesBlanksByteOrderMarkAndQuotes) {
  EXPECT_EQ(kv::clean_source_line("  \"C:/p/x.kv\"\t\r\n"), "C:/p/x.kv");
  EXPECT_EQ(kv::clean_source_line("\xEF\xBB\xBFprog.kv"), "prog.kv");
  EXPECT_EQ(kv::clean_source_line("\xEF\xBB\xBF\"my dir/prog.kv\""), "my dir/prog.kv");
  EXPECT_EQ(kv::clean_source_line("\xEF\xBB\xBF"), "");
  EXPECT_EQ(kv::clean_source_line(" \t\r\n"), "");
  EXPECT_EQ(kv::clean_source_line("\"\""), "");
  EXPECT_EQ(kv::clean_source_line("\""), "");
  // Only a pair that encloses the whole line is removed.
  EXPECT_EQ(kv::clean_source_line("\"a.kv"), "\"a.kv");
}

kv::ToolPaths windows_tools() {
  kv::ToolPaths t;
  kv::set_stage_paths(t, "C:/K", Host::windows);
  t.nasm = "C:/K/tools/nasm.exe";
  t.link = "C:/VS/link.exe";
  t.msvcrt = "C:/L/msvcrt.lib";
  t.kernel32 = "C:/L/kernel32.Lib";
  t.ws2_32 = "C:/L/WS2_32.Lib";
  t.rc = "C:/SDK/rc.exe";
  return t;
}

TEST(WindowsCommands, StepsAreWrittenExactly) {
  kv::ToolPaths t = windows_tools();
  kv::BuildNames n = kv::build_names("C:/p/", "x", "C:/T/kavel_build");
  auto steps = kv::stage_steps(t, "C:/p/x.kv", n, Host::windows);
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[0].label, "1/6  check");
  EXPECT_EQ(steps[0].command, "echo C:/p/x.kv | \"C:/K/vetter.exe\" > NUL");
  EXPECT_EQ(steps[1].label, "2/6  lowerir");
  EXPECT_EQ(steps[1].command, "echo C:/p/x.kv | \"C:/K/lowerir.exe\" > \"C:/T/kavel_build/x.ir\" 2>NUL");
  EXPECT_EQ(steps[2].label, "3/6  opt  ");
  EXPECT_EQ(steps[2].command,
            "echo C:/T/kavel_build/x.ir | \"C:/K/opt.exe\" > \"C:/T/kavel_build/x_opt.ir\" 2>NUL");
  EXPECT_EQ(steps[3].label, "4/6  cg   ");
  EXPECT_EQ(steps[3].command,
            "echo C:/T/kavel_build/x_opt.ir | \"C:/K/emitasm.exe\" > \"C:/T/kavel_build/x.asm\" 2>NUL");
  EXPECT_EQ(steps[4].label, "5/6  nasm ");
  EXPECT_EQ(steps[4].command,
            "\"C:/K/tools/nasm.exe\" -f win64 \"C:/T/kavel_build/x.asm\" -o \"C:/T/kavel_build/x.obj\"");
  EXPECT_EQ(std::string(kv::link_label), "6/6  link ");

  EXPECT_EQ(kv::make_folder_command(Host::windows, n.folder), "mkdir \"C:\\T\\kavel_build\" 2>NUL");
  EXPECT_EQ(kv::icon_rc_text(n), "1 ICON \"C:/p/x.ico\"");
  EXPECT_EQ(kv::rc_command(t, n, Host::windows), "\"C:/SDK/rc.exe\" \"C:/T/kavel_build/x.rc\" > NUL 2>&1");
  EXPECT_EQ(kv::delete_files_command(Host::windows, {n.rc_file}), "del \"C:\\T\\kavel_build\\x.rc\" 2>NUL");
  EXPECT_EQ(kv::cleanup_command(n, Host::windows),
            "del \"C:\\T\\kavel_build\\x.ir\" \"C:\\T\\kavel_build\\x_opt.ir\" \"C:\\T\\kavel_build\\x.asm\" "
            "\"C:\\T\\kavel_build\\x.obj\" \"C:\\T\\kavel_build\\x.res\" 2>NUL");
}

TEST(WindowsCommands, LinkLineCarriesTheResourceBetweenObjectAndLibraries) {
  kv::ToolPaths t = windows_tools();
  kv::BuildNames n = kv::build_names("C:/p/", "x", "C:/T/kavel_build");
  std::string tail =
      " \"C:/L/msvcrt.lib\" \"C:/L/kernel32.Lib\" \"C:/L/WS2_32.Lib\" /out:\"C:/p/x.exe\" > NUL 2>&1";
  std::string head = "\"C:/VS/link.exe\" /subsystem:console /entry:kv_start /nodefaultlib \"C:/T/kavel_build/x.obj\"";
  EXPECT_EQ(kv::link_command(t, n, "", Host::windows), head + tail);
  EXPECT_EQ(kv::link_command(t, n, " \"C:/T/kavel_build/x.res\"", Host::windows),
            head + " \"C:/T/kavel_build/x.res\"" + tail);
  // Empty libraries are passed as empty quoted arguments.
  t.msvcrt.clear();
  EXPECT_NE(kv::link_command(t, n, "", Host::windows).find(".obj\" \"\" \"C:/L/kernel32.Lib\""), std::string::npos);
}

TEST(WindowsCommands, RunnerQuotesProgramAndEachArgument) {
  kv::ToolPaths t = windows_tools();
  EXPECT_EQ(kv::run_command(t, "C:/T/kavel_build/prog.exe", {"a b", "c"}, Host::windows),
            "\"C:/T/kavel_build/prog.exe\" \"a b\" \"c\"");
  EXPECT_EQ(kv::run_command(t, "C:/T/p.exe", {}, Host::windows), "\"C:/T/p.exe\"");
  // A double quote in an argument cannot close the quoting and expose the rest to cmd.exe.
  EXPECT_EQ(kv::run_command(t, "p.exe", {"x\" & del y & \""}, Host::windows), "\"p.exe\" \"x & del y & \"");
}

TEST(WindowsCommands, EchoedPathCannotChainCommands) {
  EXPECT_EQ(kv::echo_command(Host::windows, "C:/Users/Ann Lee/p.kv"), "echo C:/Users/Ann Lee/p.kv");
  EXPECT_EQ(kv::echo_command(Host::windows, "a&b|c<d>e^f.kv"), "echo a^&b^|c^<d^>e^^f.kv");
}

TEST(PosixCommands, EveryPathIsOneQuotedWord) {
  kv::ToolPaths t;
  kv::set_stage_paths(t, "/opt/k", Host::posix);
  t.nasm = "/usr/bin/nasm";
  t.link = "/usr/bin/lld-link";
  t.msvcrt = "/m.a";
  t.kernel32 = "/k.a";
  t.ws2_32 = "/w.a";
  t.rc = "/usr/bin/llvm-rc";
  t.run = "wine";
  kv::BuildNames n = kv::build_names("/src/it's/", "p", "/tmp/kavel_build");
  auto steps = kv::stage_steps(t, "/src/it's/p.kv", n, Host::posix);
  EXPECT_EQ(steps[0].command, "printf '%s\\n' '/src/it'\\''s/p.kv' | '/opt/k/vetter' > /dev/null");
  EXPECT_EQ(steps[1].command,
            "printf '%s\\n' '/src/it'\\''s/p.kv' | '/opt/k/lowerir' > '/tmp/kavel_build/p.ir' 2>/dev/null");
  EXPECT_EQ(steps[4].command, "'/usr/bin/nasm' -f win64 '/tmp/kavel_build/p.asm' -o '/tmp/kavel_build/p.obj'");
  EXPECT_EQ(kv::link_command(t, n, "", Host::posix),
            "'/usr/bin/lld-link' /subsystem:console /entry:kv_start /nodefaultlib '/tmp/kavel_build/p.obj' "
            "'/m.a' '/k.a' '/w.a' /out:'/src/it'\\''s/p.exe' > /dev/null 2>&1");
  EXPECT_EQ(kv::rc_command(t, n, Host::posix), "'/usr/bin/llvm-rc' -no-preprocess -- '/tmp/kavel_build/p.rc' > /dev/null 2>&1");
  EXPECT_EQ(kv::make_folder_command(Host::posix, "/tmp/a b"), "mkdir -p '/tmp/a b' 2>/dev/null");
  EXPECT_EQ(kv::delete_files_command(Host::posix, {"/a", "/b c"}), "rm -f '/a' '/b c' 2>/dev/null");
  EXPECT_EQ(kv::run_command(t, "/tmp/kavel_build/p.exe", {"a b", "", "$(x)"}, Host::posix),
            "wine '/tmp/kavel_build/p.exe' 'a b' '' '$(x)'");
  t.run.clear();
  EXPECT_EQ(kv::run_command(t, "/x/p.exe", {}, Host::posix), "'/x/p.exe'");
}

// The stages read 255 bytes of their input path: a longer IR path is handed by its name
// to a stage running in the build folder. Paths that fit keep the plain form above.
TEST(Commands, LongIrPathsAreHandedByNameFromTheBuildFolder) {
  const std::string deep(250, 'f');
  kv::ToolPaths w = windows_tools();
  kv::BuildNames n = kv::build_names("C:/p/", "x", "C:/T/" + deep + "/kavel_build");
  auto steps = kv::stage_steps(w, "C:/p/x.kv", n, Host::windows);
  EXPECT_EQ(steps[1].command, "echo C:/p/x.kv | \"C:/K/lowerir.exe\" > \"C:/T/" + deep + "/kavel_build/x.ir\" 2>NUL");
  EXPECT_EQ(steps[2].command, "cd /d \"C:\\T\\" + deep + "\\kavel_build\" && echo x.ir | \"C:/K/opt.exe\" > \"C:/T/" +
                                  deep + "/kavel_build/x_opt.ir\" 2>NUL");
  EXPECT_EQ(steps[3].command, "cd /d \"C:\\T\\" + deep + "\\kavel_build\" && echo x_opt.ir | \"C:/K/emitasm.exe\" > \"C:/T/" +
                                  deep + "/kavel_build/x.asm\" 2>NUL");
  kv::ToolPaths p;
  kv::set_stage_paths(p, "/k", Host::posix);
  n = kv::build_names("/p/", "x", "/t/" + deep + "/kavel_build");
  steps = kv::stage_steps(p, "/p/x.kv", n, Host::posix);
  EXPECT_EQ(steps[2].command, "cd '/t/" + deep + "/kavel_build' && printf '%s\\n' 'x.ir' | '/k/opt' > '/t/" + deep +
                                  "/kavel_build/x_opt.ir' 2>/dev/null");
}

// Wine hands a program "Z:\..." in quotes and each argument quoted and escaped only as
// needed; these lengths were measured with a program that prints its command line.
TEST(Commands, ProgramCommandLineIsMeasuredAsTheProgramGetsIt) {
  kv::ToolPaths t;
  t.run = "wine";
  EXPECT_EQ(kv::program_command_line_length(t, "/tmp/tools/cl.exe", {"a\\\"b", "a b\\", "x\\\\y", "t\tb", "q\""},
                                            Host::posix),
            51u);
  EXPECT_EQ(kv::program_command_line_length(t, "/tmp/tools/cl.exe", {"a\\\\\"b", "c\\"}, Host::posix), 33u);
  EXPECT_EQ(kv::program_command_line_length(t, "/tmp/tools/cl.exe", {"a", "b c", "", "d\"e"}, Host::posix), 37u);
  kv::ToolPaths w = windows_tools();
  EXPECT_EQ(kv::program_command_line_length(w, "C:/T/p.exe", {"a b", "c"}, Host::windows),
            std::string("\"C:/T/p.exe\" \"a b\" \"c\"").size());
}

TEST(CommandLine, SplitsLikeEveryBuiltProgram) {
  using V = std::vector<std::string>;
  EXPECT_EQ(kv::split_command_line("prog a  \"b c\" d\"e"), (V{"a", "b c", "d\"e"}));
  EXPECT_EQ(kv::split_command_line("\"C:\\dir with blank\\prog.exe\" x"), (V{"x"}));
  EXPECT_EQ(kv::split_command_line("prog \"ab\"cd"), (V{"ab", "cd"}));
  EXPECT_EQ(kv::split_command_line("prog \"open"), (V{"open"}));
  EXPECT_EQ(kv::split_command_line("prog"), V{});
  EXPECT_EQ(kv::split_command_line("prog a\tb"), (V{"a\tb"}));
  EXPECT_EQ(kv::split_command_line("\"unclosed prog"), V{});
  EXPECT_EQ(kv::split_command_line("prog \"\" x"), (V{"", "x"}));
}

#ifndef _WIN32
struct EnvGuard {
  std::string name;
  bool had;
  std::string value;
  explicit EnvGuard(std::string n) : name(std::move(n)) {
    const char* v = std::getenv(name.c_str());
    had = v != nullptr;
    if (had) value = v;
  }
  ~EnvGuard() {
    if (had)
      ::setenv(name.c_str(), value.c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
};

TEST(Platform, TempFolderFallsBackToTmpdirThenTmp) {
  EnvGuard temp("TEMP"), tmpdir("TMPDIR");
  ::setenv("TEMP", "/from/temp", 1);
  ::setenv("TMPDIR", "/from/tmpdir", 1);
  EXPECT_EQ(kv::temp_folder(), "/from/temp");
  EXPECT_EQ(kv::build_folder(), "/from/temp/kavel_build");
  ::unsetenv("TEMP");
  EXPECT_EQ(kv::temp_folder(), "/from/tmpdir");
  ::setenv("TEMP", "", 1);
  EXPECT_EQ(kv::temp_folder(), "/from/tmpdir");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(kv::build_folder(), "/tmp/kavel_build");
}

TEST(Platform, EnvironmentValues) {
  EnvGuard g("KAVEL_TEST_VALUE");
  ::unsetenv("KAVEL_TEST_VALUE");
  EXPECT_EQ(kv::getenv("KAVEL_TEST_VALUE"), "");
  kv::setenv("KAVEL_TEST_VALUE", "x y");
  EXPECT_EQ(kv::getenv("KAVEL_TEST_VALUE"), "x y");
  EXPECT_EQ(kv::system("test \"$KAVEL_TEST_VALUE\" = 'x y'"), 0u);
}

TEST(Platform, SystemGivesTheCommandsExitCode) {
  EXPECT_EQ(kv::system("exit 3"), 3u);
  EXPECT_EQ(kv::system("true"), 0u);
  EXPECT_EQ(kv::system("/no/such/program 2>/dev/null"), 127u);
  EXPECT_EQ(kv::system("kill -9 $$"), 128u + 9u);
  // A command holding quotes reaches the shell unchanged.
  EXPECT_EQ(kv::system("test \"a b\" = 'a b'"), 0u);
}

TEST(Platform, ClockAdvancesInMilliseconds) {
  std::uint64_t t0 = kv::clock();
  kv::system("sleep 0.05");
  std::uint64_t dt = kv::clock() - t0;
  EXPECT_GE(dt, 50u);
  EXPECT_LT(dt, 5000u);
}
#endif

TEST(Text, BehavesAsTheLibraryFunctions) {
  using V = std::vector<std::string>;
  EXPECT_EQ(kv::split("a,,b", ","), (V{"a", "", "b"}));
  EXPECT_EQ(kv::split("", ","), (V{""}));
  EXPECT_EQ(kv::split("a,", ","), (V{"a", ""}));
  EXPECT_EQ(kv::split("abc", ""), (V{"abc"}));
  EXPECT_EQ(kv::split("a--b---c", "--"), (V{"a", "b", "-c"}));
  // Left to right and not overlapping, as setup relies on when it points the demos'
  // library paths at the install folder.
  EXPECT_EQ(kv::replace("aaa", "aa", "b"), "ba");
  EXPECT_EQ(kv::replace("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(kv::replace("x d:/Kavel/std.kv d:/Kavel", "d:/Kavel", "C:/K"), "x C:/K/std.kv C:/K");
  EXPECT_EQ(kv::replace("abc", "", "x"), "abc");
  EXPECT_EQ(kv::replace("", "a", "x"), "");
  EXPECT_EQ(kv::replace("a/b/c", "/", "\\"), "a\\b\\c");
  EXPECT_EQ(kv::trim(" \t\r\n \r"), "");
  EXPECT_EQ(kv::trim("\t x y \r\n"), "x y");
  EXPECT_EQ(kv::ltrim("  x "), "x ");
  EXPECT_EQ(kv::rtrim("  x "), "  x");
  EXPECT_TRUE(kv::starts_with("NASM=x", "NASM="));
  EXPECT_FALSE(kv::starts_with("NAS", "NASM="));
  EXPECT_TRUE(kv::ends_with("p.kv", ".kv"));
  EXPECT_FALSE(kv::ends_with("kv", ".kv"));
  EXPECT_EQ(kv::join({}, ","), "");
  EXPECT_EQ(kv::join({"a", "", "b"}, ", "), "a, , b");
}

}  // namespace
