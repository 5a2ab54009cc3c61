// Reading kavel_paths.cfg: trimming, lookup, fallbacks and the start-up check.
#include <gtest/gtest.h>

#include "config.h"
#include "config_keys.h"
#include "text.h"

namespace {

kv::ToolPaths from_text(const std::string& text, kv::Host host = kv::Host::posix) {
  kv::ToolPaths t;
  kv::apply_configuration(t, &text, host);
  return t;
}

TEST(Lookup, EmptyEntryIsPassedOverForALaterOne) {
  std::vector<std::string> lines = {"LINK=", "NASM=/n", "LINK=/usr/bin/lld-link"};
  EXPECT_EQ(kv::lookup(lines, "LINK", "dflt"), "/usr/bin/lld-link");
  EXPECT_EQ(kv::lookup(lines, "RC", "dflt"), "dflt");
  EXPECT_EQ(kv::lookup({"LINK="}, "LINK", "dflt"), "dflt");
}

TEST(Lookup, FirstNonEmptyEntryWinsAndValueKeepsLaterEquals) {
  std::vector<std::string> lines = {"RC=/a=b", "RC=/c"};
  EXPECT_EQ(kv::lookup(lines, "RC", ""), "/a=b");
}

TEST(Lookup, KeysAreCaseSensitiveAndMustStartTheLine) {
  std::vector<std::string> lines = {"nasm=/lower", "XNASM=/x", "# NASM=/comment"};
  EXPECT_EQ(kv::lookup(lines, "NASM", "none"), "none");
}

TEST(Configuration, WholeLineIsTrimmedBeforeMatching) {
  kv::ToolPaths t = from_text("   NASM=/opt/nasm/nasm  \t\r\nLINK=/l\r\n");
  EXPECT_EQ(t.nasm, "/opt/nasm/nasm");
  EXPECT_EQ(t.link, "/l");
  // Blanks inside the value stay: a Windows path may hold them.
  EXPECT_EQ(from_text("LINK=C:/Program Files/link.exe\r\n").link, "C:/Program Files/link.exe");
}

TEST(Configuration, BlanksAroundTheEqualsSignDoNotMatch) {
  kv::ToolPaths t = from_text("NASM = /usr/bin/nasm\nLINK=/usr/bin/lld-link\n");
  EXPECT_EQ(t.nasm, "");
  EXPECT_FALSE(kv::tools_present(t));
}

TEST(Configuration, EmptyFileGivesEmptyValuesNotFallbacks) {
  kv::ToolPaths t = from_text("");
  for (const auto& k : kv::kConfigKeys) EXPECT_EQ(t.*k.field, "") << k.key;
  EXPECT_FALSE(kv::tools_present(t));
}

// Each key fills its own member and no other, on the hosts that read it.
TEST(Configuration, EveryKeyReachesItsOwnMember) {
  for (const auto& k : kv::kConfigKeys) {
    for (kv::Host host : {kv::Host::posix, kv::Host::windows}) {
      kv::ToolPaths t = from_text(std::string(k.key) + "=/value\n", host);
      const bool read = k.hosts == kv::ConfigKey::Hosts::all || host == kv::Host::posix;
      for (const auto& other : kv::kConfigKeys)
        EXPECT_EQ(t.*other.field, read && other.field == k.field ? "/value" : "") << k.key << " into " << other.key;
    }
  }
}

TEST(Configuration, MissingFileGivesFallbacks) {
  kv::ToolPaths win;
  kv::apply_configuration(win, nullptr, kv::Host::windows);
  EXPECT_EQ(win.link,
            "C:/Program Files/Microsoft Visual Studio/18/Community/VC/Tools/MSVC/14.51.36231/bin/HostX64/x64/link.exe");
  EXPECT_EQ(win.msvcrt,
            "C:/Program Files/Microsoft Visual Studio/18/Community/VC/Tools/MSVC/14.51.36231/lib/x64/msvcrt.lib");
  EXPECT_EQ(win.kernel32, "C:/Program Files (x86)/Windows Kits/10/Lib/10.0.28000.0/um/x64/kernel32.Lib");
  EXPECT_EQ(win.ws2_32, "C:/Program Files (x86)/Windows Kits/10/Lib/10.0.28000.0/um/x64/WS2_32.Lib");
  EXPECT_EQ(win.rc, "C:/Program Files (x86)/Windows Kits/10/bin/10.0.28000.0/x64/rc.exe");
  EXPECT_TRUE(kv::ends_with(win.nasm, "nasm.exe"));
  EXPECT_TRUE(kv::tools_present(win));

  kv::ToolPaths posix;
  kv::apply_configuration(posix, nullptr, kv::Host::posix);
  EXPECT_TRUE(kv::tools_present(posix));
  EXPECT_EQ(posix.run, "wine");
}

TEST(Configuration, FileLackingAKeyLeavesItEmptyAndOrderDoesNotMatter) {
  kv::ToolPaths t = from_text("WS2_32=/w\nRC=/r\nKERNEL32=/k\nLINK=/l\nNASM=/n\n");
  EXPECT_EQ(t.nasm, "/n");
  EXPECT_EQ(t.link, "/l");
  EXPECT_EQ(t.rc, "/r");
  EXPECT_EQ(t.kernel32, "/k");
  EXPECT_EQ(t.ws2_32, "/w");
  EXPECT_EQ(t.msvcrt, "");
  EXPECT_TRUE(kv::tools_present(t));
}

TEST(Configuration, TheRunPrefixIsReadOnPosixOnly) {
  EXPECT_EQ(from_text("RUN=wine\n", kv::Host::posix).run, "wine");
  EXPECT_EQ(from_text("RUN=wine\n", kv::Host::windows).run, "");
}

TEST(Configuration, TextEndsAtAZeroByte) {
  std::string text = std::string("NASM=/n\n") + '\0' + "LINK=/l\n";
  kv::ToolPaths t = from_text(text);
  EXPECT_EQ(t.nasm, "/n");
  EXPECT_EQ(t.link, "");
}

TEST(Configuration, StagePathsSitBesideTheProgram) {
  kv::ToolPaths w, p;
  kv::set_stage_paths(w, "C:\\Kavel\\bin", kv::Host::windows);
  EXPECT_EQ(w.checker, "C:\\Kavel\\bin/vetter.exe");
  EXPECT_EQ(w.frontend, "C:\\Kavel\\bin/lowerir.exe");
  EXPECT_EQ(w.optimiser, "C:\\Kavel\\bin/opt.exe");
  EXPECT_EQ(w.codegen, "C:\\Kavel\\bin/emitasm.exe");
  kv::set_stage_paths(p, "/opt/kavel", kv::Host::posix);
  EXPECT_EQ(p.checker, "/opt/kavel/vetter");
  EXPECT_EQ(p.codegen, "/opt/kavel/emitasm");
}

TEST(Configuration, MissingToolsMessageHasItsThreeLines) {
  const auto& lines = kv::missing_tools_message();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[kavelc] error: NASM or the MSVC linker could not be located.");
  EXPECT_EQ(lines[1], "[kavelc] Install Visual Studio Build Tools (\"Desktop development with");
  EXPECT_EQ(lines[2], "[kavelc] C++\" workload), then re-run the Kavel installer.");
}

}  // namespace
