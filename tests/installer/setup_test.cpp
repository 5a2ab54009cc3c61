// setup's Windows behaviour with the command processor and the file system recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform.h"
#include "setup.h"
#include "setup_script.h"
#include "shipped_files.h"
#include "text.h"
#include "uninstall_plan.h"

namespace {

std::string read_expected(const std::string& name) {
  std::ifstream in(std::string(KAVEL_INSTALLER_EXPECTED) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Recorder {
  std::string out, err;
  std::vector<std::string> commands;
  std::map<std::string, std::string> files;  // path -> content
  std::vector<std::string> unwritable;
  kv::setup::Host host;

  explicit Recorder(std::string local = "C:\\Users\\ann\\AppData\\Local") {
    host.print = [this](std::string_view l) { out.append(l).append("\r\n"); };
    host.error = [this](std::string_view l) { err.append(l).append("\r\n"); };
    host.system = [this](const std::string& c) {
      commands.push_back(c);
      return 0u;
    };
    host.read_file = [this](const std::string& p, std::string& t) {
      auto it = files.find(p);
      if (it == files.end()) return false;
      t = it->second;
      return true;
    };
    host.write_file = [this](const std::string& p, const std::string& t) {
      for (const auto& u : unwritable)
        if (p == u) return false;
      files[p] = t;
      return true;
    };
    host.exe_dir = "D:\\dist\\windows";
    host.local_app_data = std::move(local);
  }
};

const std::string kInstall = "C:\\Users\\ann\\AppData\\Local/Kavel";

TEST(SetupScript, StandaloneIsTheWholeScriptAndPackageModeStopsBeforeTheRegistry) {
  const std::string full = read_expected("setup_script.ps1");
  EXPECT_EQ(kv::setup::script_text(false), full);
  EXPECT_EQ(kv::setup::script_line_count(false), 69);

  const std::string package = kv::setup::script_text(true);
  EXPECT_EQ(kv::setup::script_line_count(true), 48);
  ASSERT_LT(package.size(), full.size());
  EXPECT_EQ(full.compare(0, package.size(), package), 0);
  EXPECT_EQ(full.substr(package.size(), full.find('\n', package.size()) - package.size()),
            "New-Item -Path \"HKCU:/Software/Classes/.kv\" -Force | Out-Null");
  EXPECT_EQ(package.substr(package.size() - 2), "}\n");
  EXPECT_EQ(package.find('\r'), std::string::npos);
  EXPECT_EQ(std::count(package.begin(), package.end(), '\n'), 48);
}

TEST(SetupCommands, FileAndFolderCopiesUseWindowsSeparators) {
  EXPECT_EQ(kv::setup::mkdir_command("C:/a b/Kavel"), "mkdir \"C:\\a b\\Kavel\" 2>NUL");
  EXPECT_EQ(kv::setup::copy_file_command("D:\\x/kavel.exe", "C:\\y/Kavel/kavel.exe"),
            "copy /Y \"D:\\x\\kavel.exe\" \"C:\\y\\Kavel\\kavel.exe\" >NUL");
  // A "/" reaching xcopy would be read as a switch.
  EXPECT_EQ(kv::setup::copy_folder_command("D:\\x/docs", "C:\\y/Kavel/docs"),
            "xcopy /Y /I /E /Q \"D:\\x\\docs\" \"C:\\y\\Kavel\\docs\" >NUL");
}

TEST(SetupFlag, OnlyAFirstArgumentFromInnoCounts) {
  EXPECT_TRUE(kv::setup::from_package({"--from-inno"}));
  EXPECT_TRUE(kv::setup::from_package({"--from-inno", "x"}));
  EXPECT_FALSE(kv::setup::from_package({}));
  EXPECT_FALSE(kv::setup::from_package({"x", "--from-inno"}));
  EXPECT_FALSE(kv::setup::from_package({"--FROM-INNO"}));
}

TEST(SetupRun, StandaloneCopiesFixesDemosWritesRunsAndDeletesTheScript) {
  Recorder r;
  r.files[kInstall + "/demos/01_hello.kv"] = "use \"d:/Kavel/std.kv\":\r\nstart [ print(\"d:/Kavelx\"): ]\r\n";
  r.files[kInstall + "/demos/demo.kv"] = "no library here\n";
  for (std::string_view d : kv::shipped::kDemos)
    if (d != "01_hello.kv" && d != "demo.kv" && d != "demo2.kv") r.files[kInstall + "/demos/" + std::string(d)] = "x";

  EXPECT_EQ(kv::setup::run({}, r.host), 0);
  EXPECT_EQ(r.out, read_expected("setup_standalone.out"));
  EXPECT_EQ(r.err, "");

  std::vector<std::string> want = {
      "mkdir \"C:\\Users\\ann\\AppData\\Local\\Kavel\" 2>NUL",
      "mkdir \"C:\\Users\\ann\\AppData\\Local\\Kavel\\tools\" 2>NUL",
  };
  // Files one by one, folders whole, in payload order.
  for (const auto& item : kv::shipped::kPayload) {
    std::string f = kv::backslashed(kv::shipped::windows_name(item));
    std::string copy = item.kind == kv::shipped::Kind::folder ? "xcopy /Y /I /E /Q " : "copy /Y ";
    want.push_back(copy + "\"D:\\dist\\windows\\" + f + "\" \"C:\\Users\\ann\\AppData\\Local\\Kavel\\" + f + "\" >NUL");
  }
  want.push_back("powershell -NoProfile -ExecutionPolicy Bypass -File \"" + kInstall + "/_kavel_setup.ps1\"");
  want.push_back("del \"C:\\Users\\ann\\AppData\\Local\\Kavel\\_kavel_setup.ps1\"");
  EXPECT_EQ(r.commands, want);

  EXPECT_EQ(r.files[kInstall + "/demos/01_hello.kv"],
            "use \"" + kInstall + "/std.kv\":\r\nstart [ print(\"" + kInstall + "x\"): ]\r\n");
  EXPECT_EQ(r.files[kInstall + "/demos/demo.kv"], "no library here\n");
  EXPECT_EQ(r.files[kInstall + "/_kavel_setup.ps1"], kv::setup::script_text(false));
}

TEST(SetupRun, FromPackageSkipsTheCopiesAndTheRegistryPart) {
  Recorder r;
  for (std::string_view d : kv::shipped::kDemos) r.files[kInstall + "/demos/" + std::string(d)] = "use \"d:/Kavel/std.kv\":";
  EXPECT_EQ(kv::setup::run({"--from-inno"}, r.host), 0);
  EXPECT_EQ(r.out, read_expected("setup_package.out"));
  ASSERT_EQ(r.commands.size(), 2u);
  EXPECT_EQ(r.commands[0].rfind("powershell ", 0), 0u);
  EXPECT_EQ(r.files[kInstall + "/_kavel_setup.ps1"], kv::setup::script_text(true));
  EXPECT_EQ(r.files[kInstall + "/demos/demoweb.kv"], "use \"" + kInstall + "/std.kv\":");
}

TEST(SetupRun, ADemoThatCannotBeWrittenIsSkippedAndTheRestGoOn) {
  Recorder r;
  for (std::string_view d : kv::shipped::kDemos) r.files[kInstall + "/demos/" + std::string(d)] = "d:/Kavel";
  r.unwritable.push_back(kInstall + "/demos/03_list.kv");
  EXPECT_EQ(kv::setup::run({"--from-inno"}, r.host), 0);
  EXPECT_NE(r.out.find("  fixing demo use-paths...\r\n    (skipped 03_list.kv: runtime error: cannot open file)\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(r.files[kInstall + "/demos/03_list.kv"], "d:/Kavel");
  EXPECT_EQ(r.files[kInstall + "/demos/04_forloop.kv"], kInstall);
}

TEST(SetupRun, AScriptThatCannotBeWrittenStopsWithTheRuntimeError) {
  Recorder r;
  r.unwritable.push_back(kInstall + "/_kavel_setup.ps1");
  EXPECT_EQ(kv::setup::run({"--from-inno"}, r.host), 1);
  EXPECT_EQ(r.err, "runtime error: cannot open file\r\n");
  EXPECT_TRUE(r.commands.empty());
  EXPECT_EQ(r.out.find("Kavel installed"), std::string::npos);
}

TEST(SetupRun, WithoutLocalAppDataNothingIsTouched) {
  Recorder r("");
  EXPECT_EQ(kv::setup::run({}, r.host), 1);
  EXPECT_TRUE(r.commands.empty());
  EXPECT_TRUE(r.files.empty());
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("LOCALAPPDATA"), std::string::npos);
}

TEST(UninstallPlan, RemovesWhatSetupPutDownAndFoldersDeepestFirst) {
  auto files = kv::uninstall::installed_files();
  for (const auto& item : kv::shipped::kPayload) {
    if (item.kind == kv::shipped::Kind::folder) continue;
    std::string f = kv::shipped::windows_name(item);
    EXPECT_NE(std::find(files.begin(), files.end(), f), files.end()) << f;
  }
  for (std::string_view d : kv::shipped::kDemos)
    EXPECT_EQ(std::count(files.begin(), files.end(), "demos/" + std::string(d)), 1) << d;
  for (const char* f : {"tools/nasm.exe", "kavel_paths.cfg", "_kavel_setup.ps1"})
    EXPECT_NE(std::find(files.begin(), files.end(), f), files.end()) << f;
  for (const auto& f : files) {
    EXPECT_EQ(f.find(".."), std::string::npos) << f;
    EXPECT_NE(f[0], '/') << f;
  }
  auto folders = kv::uninstall::installed_folders();
  for (size_t i = 1; i < folders.size(); ++i)
    EXPECT_GE(std::count(folders[i - 1].begin(), folders[i - 1].end(), '/'),
              std::count(folders[i].begin(), folders[i].end(), '/'));
  EXPECT_NE(std::find(folders.begin(), folders.end(), "tools"), folders.end());
}

// A demo missing from the list would ship with its library path unfixed; a listed demo
// the tree lacks would be reported as skipped by every install.
TEST(Shipped, TheDemoListNamesEveryDemoOfTheTreeOnce) {
  std::vector<std::string> in_tree, listed(kv::shipped::kDemos.begin(), kv::shipped::kDemos.end());
  for (std::string_view f : kv::shipped::kFolderFiles)
    if (kv::starts_with(f, "demos/") && kv::ends_with(f, ".kv") && f.find('/', 6) == std::string_view::npos)
      in_tree.emplace_back(f.substr(6));
  std::sort(in_tree.begin(), in_tree.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, in_tree);
}

// What the payload takes from the source tree must be there, or every install lacks it.
TEST(Shipped, WhatThePayloadTakesFromTheTreeIsThere) {
  namespace fs = std::filesystem;
  for (const auto& item : kv::shipped::kPayload) {
    const char* in_tree = kv::shipped::tree_folder(item);
    if (!in_tree) continue;
    fs::path p = fs::path(KAVEL_SOURCE_TREE) / in_tree / item.name;
    EXPECT_TRUE(item.kind == kv::shipped::Kind::folder ? fs::is_directory(p) : fs::is_regular_file(p)) << p;
  }
}

TEST(UninstallPlan, PathLosesOnlyTheInstallFolder) {
  const std::string dir = "C:\\Users\\ann\\AppData\\Local/Kavel";
  EXPECT_EQ(kv::uninstall::path_without("C:\\bin;" + dir, dir), "C:\\bin");
  EXPECT_EQ(kv::uninstall::path_without(";" + dir, dir), "");
  EXPECT_EQ(kv::uninstall::path_without("a;;" + dir, dir), "a;");
  EXPECT_EQ(kv::uninstall::path_without("c:\\users\\ann\\appdata\\local\\kavel\\;b", dir), "b");
  EXPECT_EQ(kv::uninstall::path_without("C:\\Kavel2;" + dir + "\\tools;b;", dir), "C:\\Kavel2;" + dir + "\\tools;b;");
  EXPECT_EQ(kv::uninstall::path_without("", dir), "");
}

TEST(UninstallPlan, QuietSwitch) {
  EXPECT_TRUE(kv::uninstall::quiet({"/quiet"}));
  EXPECT_TRUE(kv::uninstall::quiet({"/QUIET"}));
  EXPECT_TRUE(kv::uninstall::quiet({"x", "--quiet"}));
  EXPECT_FALSE(kv::uninstall::quiet({}));
  EXPECT_FALSE(kv::uninstall::quiet({"/quietly"}));
}

}  // namespace
