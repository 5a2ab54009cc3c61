// The Linux install and uninstall, run in-process against a temporary HOME.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "linux_install.h"
#include "shipped_files.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

class LinuxInstall : public ::testing::Test {
 protected:
  fs::path root, home, payload, tree, tools;
  std::string out, err;
  std::vector<std::string> answers;
  kv::linux_install::Env env;

  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kavel-install-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root = tmpl;
    home = root / "home";
    payload = root / "payload";
    tree = root / "tree";
    tools = root / "tools";
    fs::create_directories(home);
    // Every program the install cannot do without, beside setup; the optional ones are
    // left out, so the install must report them and go on.
    for (const auto& item : kv::shipped::kPayload) {
      if (item.kind != kv::shipped::Kind::program || item.on_linux != kv::shipped::OnLinux::required) continue;
      spit(payload / item.name, "#!/bin/sh\necho " + std::string(item.name) + "\n");
      fs::permissions(payload / item.name, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    }
    spit(payload / "std.kv", "fn int one() -> int [ return 1: ]\n");
    spit(tree / "README.md", "readme\n");
    spit(tree / "lib/kavelweb.kv", "web\n");
    spit(tree / "docs/guide.md", "guide\n");
    spit(tree / "docs/ref/builtins.md", "builtins\n");
    spit(tree / "demos/01_hello.kv", "use \"d:/Kavel/std.kv\":\r\nstart [ print(\"hi\"): ]\r\n");
    spit(tree / "demos/demo.kv", "use \"d:/Kavel/std.kv\":\nuse \"d:/Kavel/kavelweb.kv\":\n");
    for (const char* t : {"nasm", "lld-link", "wine"}) {
      spit(tools / t, "#!/bin/sh\n");
      fs::permissions(tools / t, fs::perms::owner_all);
    }
    spit(tools / "llvm-rc", "not executable\n");

    env.print = [this](std::string_view l) { out.append(l).append("\n"); };
    env.error = [this](std::string_view l) { err.append(l).append("\n"); };
    env.ask = [this](std::string& a) {
      if (answers.empty()) return false;
      a = answers.front();
      answers.erase(answers.begin());
      return true;
    };
    env.home = home.string();
    env.path = "/nonexistent:" + tools.string();
    env.exe_dir = payload.string();
    env.tree_dir = tree.string();
  }
  void TearDown() override { fs::remove_all(root); }

  fs::path dir() const { return home / ".local/share/kavel"; }
  fs::path bin() const { return home / ".local/bin"; }
};

TEST_F(LinuxInstall, CopiesThePayloadWritesTheConfigurationAndLinksTheTools) {
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  EXPECT_EQ(err, "");
  EXPECT_EQ(slurp(dir() / "kavel"), "#!/bin/sh\necho kavel\n");
  EXPECT_NE(fs::status(dir() / "kavelc").permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(slurp(dir() / "std.kv"), "fn int one() -> int [ return 1: ]\n");
  EXPECT_EQ(slurp(dir() / "kavelweb.kv"), "web\n");
  EXPECT_EQ(slurp(dir() / "docs/ref/builtins.md"), "builtins\n");
  EXPECT_FALSE(fs::exists(dir() / "LICENSE"));
  EXPECT_NE(out.find("  (not found: LICENSE)\n"), std::string::npos);

  const std::string d = dir().string();
  EXPECT_EQ(slurp(dir() / "demos/01_hello.kv"), "use \"" + d + "/std.kv\":\r\nstart [ print(\"hi\"): ]\r\n");
  EXPECT_EQ(slurp(dir() / "demos/demo.kv"), "use \"" + d + "/std.kv\":\nuse \"" + d + "/kavelweb.kv\":\n");
  EXPECT_NE(out.find("    (skipped demo2.kv: runtime error: cannot open file)\n"), std::string::npos);

  const std::string t = tools.string();
  const std::string libs = "/usr/x86_64-w64-mingw32/lib/";
  auto lib = [&](const char* name) { return fs::exists(libs + name) ? libs + name : std::string(); };
  // llvm-rc on PATH is not executable, so RC stays empty.
  EXPECT_EQ(slurp(dir() / "kavel_paths.cfg"), "NASM=" + t + "/nasm\r\nLINK=" + t + "/lld-link\r\nRC=\r\nMSVCRT=" +
                                                  lib("libmsvcrt.a") + "\r\nKERNEL32=" + lib("libkernel32.a") +
                                                  "\r\nWS2_32=" + lib("libws2_32.a") + "\r\nRUN=" + t +
                                                  "/wine\r\n");

  for (const char* l : {"kavel", "kavelc"}) {
    ASSERT_TRUE(fs::is_symlink(bin() / l)) << l;
    EXPECT_EQ(fs::read_symlink(bin() / l), dir() / l);
  }
  EXPECT_NE(out.find(" Add " + bin().string() + " to your PATH, then run:  kavel --version\n"), std::string::npos);
}

TEST_F(LinuxInstall, RunningTwiceIsHarmlessAndHonoursXdgDataHome) {
  env.xdg_data_home = (root / "data").string();
  env.path += ":" + (home / ".local/bin").string();
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  const fs::path d = root / "data/kavel";
  std::string first_demo = slurp(d / "demos/01_hello.kv");
  std::string first_manifest = slurp(d / ".install-manifest");
  out.clear();
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  EXPECT_EQ(slurp(d / "demos/01_hello.kv"), first_demo);
  EXPECT_EQ(slurp(d / ".install-manifest"), first_manifest);
  EXPECT_EQ(fs::read_symlink(bin() / "kavel"), d / "kavel");
  EXPECT_NE(out.find(" Run:  kavel --version\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(home / ".local/share/kavel"));
}

TEST_F(LinuxInstall, SetupRunFromTheInstallFolderKeepsItsFiles) {
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  env.exe_dir = dir().string();
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  EXPECT_EQ(slurp(dir() / "kavel"), "#!/bin/sh\necho kavel\n");
  EXPECT_EQ(slurp(dir() / "std.kv"), "fn int one() -> int [ return 1: ]\n");
}

TEST_F(LinuxInstall, AForeignFileWhereALinkGoesIsKept) {
  spit(bin() / "kavel", "someone else's kavel\n");
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  EXPECT_EQ(slurp(bin() / "kavel"), "someone else's kavel\n");
  EXPECT_TRUE(fs::is_symlink(bin() / "kavelc"));
  EXPECT_NE(out.find("  kept " + (bin() / "kavel").string()), std::string::npos);
}

TEST_F(LinuxInstall, AMissingProgramStopsBeforeAnythingIsWritten) {
  fs::remove(payload / "emitasm");
  EXPECT_EQ(kv::linux_install::setup({}, env), 1);
  EXPECT_NE(err.find("emitasm is missing"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir()));
  EXPECT_FALSE(fs::exists(bin()));
}

TEST_F(LinuxInstall, NoToolsOnPathGivesEmptyEntriesAndAWarning) {
  env.path = "/nonexistent";
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  std::string cfg = slurp(dir() / "kavel_paths.cfg");
  EXPECT_EQ(cfg.rfind("NASM=\r\nLINK=\r\nRC=\r\n", 0), 0u) << cfg;
  EXPECT_NE(out.find("WARNING: nasm or lld-link was not found on PATH.\n"), std::string::npos);
}

TEST_F(LinuxInstall, WithoutHomeNothingHappens) {
  env.home = "";
  EXPECT_EQ(kv::linux_install::setup({}, env), 1);
  EXPECT_EQ(kv::linux_install::uninstall({"--quiet"}, env), 1);
  env.home = "relative/home";
  EXPECT_EQ(kv::linux_install::setup({}, env), 1);
  EXPECT_EQ(out, "");
}

TEST_F(LinuxInstall, UninstallAsksAndADeclineRemovesNothing) {
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  answers = {"n"};
  EXPECT_EQ(kv::linux_install::uninstall({}, env), 1);
  EXPECT_TRUE(fs::exists(dir() / "kavel"));
  EXPECT_TRUE(fs::is_symlink(bin() / "kavel"));
  answers.clear();  // end of input counts as no
  EXPECT_EQ(kv::linux_install::uninstall({}, env), 1);
  EXPECT_TRUE(fs::exists(dir() / "kavel"));
}

TEST_F(LinuxInstall, UninstallRemovesWhatSetupPutDownAndKeepsTheUsersFiles) {
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  spit(dir() / "demos/mine.kv", "my own program\n");
  spit(bin() / "other-tool", "x\n");
  answers = {"y"};
  ASSERT_EQ(kv::linux_install::uninstall({}, env), 0) << err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(bin() / "kavel")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(bin() / "kavelc")));
  EXPECT_TRUE(fs::exists(bin() / "other-tool"));
  EXPECT_EQ(slurp(dir() / "demos/mine.kv"), "my own program\n");
  std::vector<std::string> left;
  for (auto& e : fs::recursive_directory_iterator(dir())) left.push_back(fs::relative(e.path(), dir()).string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"demos", "demos/mine.kv"}));
  EXPECT_NE(out.find("  kept " + dir().string()), std::string::npos);

  fs::remove(dir() / "demos/mine.kv");
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  ASSERT_EQ(kv::linux_install::uninstall({"/quiet"}, env), 0) << err;
  EXPECT_FALSE(fs::exists(dir()));
}

TEST_F(LinuxInstall, UninstallNeverLeavesTheInstallFolder) {
  ASSERT_EQ(kv::linux_install::setup({}, env), 0) << err;
  spit(home / "precious.txt", "keep me\n");
  std::ofstream(dir() / ".install-manifest", std::ios::app)
      << "../../../precious.txt\r\n" << (home / "precious.txt").string() << "\r\n";
  ASSERT_EQ(kv::linux_install::uninstall({"-y"}, env), 0) << err;
  EXPECT_EQ(slurp(home / "precious.txt"), "keep me\n");
}

TEST_F(LinuxInstall, UninstallWithoutAnInstallRecordRemovesNothing) {
  spit(dir() / "kavel", "not ours\n");
  EXPECT_EQ(kv::linux_install::uninstall({"--quiet"}, env), 1);
  EXPECT_TRUE(fs::exists(dir() / "kavel"));
  EXPECT_NE(err.find("nothing removed"), std::string::npos);
}

}  // namespace
