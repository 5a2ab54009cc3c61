#include "linux_install.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "config_keys.h"
#include "setup.h"
#include "shipped_files.h"
#include "text.h"

namespace fs = std::filesystem;

namespace kv::linux_install {
namespace {

const char kManifest[] = ".install-manifest";
const char* const kLinks[] = {"kavel", "kavelc"};

bool present(const fs::path& p) {
  std::error_code ec;
  return fs::exists(p, ec);
}

using kv::shipped::Item;
using kv::shipped::OnLinux;

// Where an item is found, or an empty path: beside setup, or else, for what the source
// tree holds (the libraries, the documents, the demos), in the tree setup was built from.
fs::path locate(const Item& item, const Env& env) {
  fs::path here = fs::path(env.exe_dir) / item.name;
  if (present(here)) return here;
  const char* in_tree = kv::shipped::tree_folder(item);
  if (env.tree_dir.empty() || !in_tree) return {};
  fs::path there = fs::path(env.tree_dir) / in_tree / item.name;
  return present(there) ? there : fs::path();
}

bool read_all(const fs::path& p, std::string& out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool write_all(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << text;
  out.close();
  return !out.fail();
}

bool same_file(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// Copies one file, keeping its permissions; copying a file onto itself is a no-op.
bool copy_one(const fs::path& from, const fs::path& to, std::string& why) {
  std::error_code ec;
  if (same_file(from, to)) return true;
  fs::create_directories(to.parent_path(), ec);
  // A running program cannot always be overwritten in place: replace it instead.
  fs::remove(to, ec);
  if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) {
    why = ec.message();
    return false;
  }
  return true;
}

std::string find_on_path(const std::string& path_env, const std::string& name) {
  size_t start = 0;
  while (start <= path_env.size()) {
    size_t end = path_env.find(':', start);
    if (end == std::string::npos) end = path_env.size();
    std::string dir = path_env.substr(start, end - start);
    if (!dir.empty() && dir[0] == '/') {
      fs::path candidate = fs::path(dir) / name;
      std::error_code ec;
      auto st = fs::status(candidate, ec);
      if (!ec && fs::is_regular_file(st) &&
          (st.permissions() & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec)) !=
              fs::perms::none)
        return candidate.string();
    }
    start = end + 1;
  }
  return "";
}

// A manifest line names a file inside the install folder: relative, no "..".
bool safe_relative(const std::string& rel) {
  if (rel.empty() || rel[0] == '/') return false;
  for (const auto& part : fs::path(rel))
    if (part == ".." || part == ".") return false;
  return true;
}

std::vector<std::string> read_manifest(const fs::path& dir) {
  std::vector<std::string> entries;
  std::string text;
  if (!read_all(dir / kManifest, text)) return entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (safe_relative(line)) entries.push_back(line);
    start = end + 1;
  }
  return entries;
}

bool link_points_into(const fs::path& link, const fs::path& dir) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(link, ec))) return false;
  fs::path target = fs::read_symlink(link, ec);
  if (ec) return false;
  return target.parent_path() == dir;
}

bool on_path(const std::string& path_env, const std::string& dir) {
  size_t start = 0;
  while (start <= path_env.size()) {
    size_t end = path_env.find(':', start);
    if (end == std::string::npos) end = path_env.size();
    std::string entry = path_env.substr(start, end - start);
    while (entry.size() > 1 && entry.back() == '/') entry.pop_back();
    if (entry == dir) return true;
    start = end + 1;
  }
  return false;
}

bool quiet_flag(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "/quiet" || a == "--quiet" || a == "-q" || a == "--yes" || a == "-y") return true;
  return false;
}

}  // namespace

std::string install_dir(const Env& env) {
  // XDG_DATA_HOME counts only when absolute, as relative values are to be ignored.
  if (!env.xdg_data_home.empty() && env.xdg_data_home[0] == '/')
    return (fs::path(env.xdg_data_home) / "kavel").lexically_normal().string();
  if (env.home.empty() || env.home[0] != '/') return "";
  return (fs::path(env.home) / ".local/share/kavel").lexically_normal().string();
}

std::string bin_dir(const Env& env) {
  if (env.home.empty() || env.home[0] != '/') return "";
  return (fs::path(env.home) / ".local/bin").lexically_normal().string();
}

std::string machine_config(const std::string& path_env, const std::string& lib_dir) {
  auto lib = [&](const char* name) {
    fs::path p = fs::path(lib_dir) / name;
    return present(p) ? p.string() : std::string();
  };
  std::string cfg;
  for (const ConfigKey& k : kConfigKeys) {
    const bool program = k.on_linux == ConfigKey::OnLinux::program;
    cfg += std::string(k.key) + "=" + (program ? find_on_path(path_env, k.linux_file) : lib(k.linux_file)) + "\r\n";
  }
  return cfg;
}

int setup(const std::vector<std::string>& /*args*/, const Env& env) {
  const std::string dir_text = install_dir(env);
  const std::string bin_text = bin_dir(env);
  if (dir_text.empty() || bin_text.empty()) {
    env.error("setup: HOME is not set to an absolute folder; cannot choose the install folder");
    return 1;
  }
  const fs::path dir(dir_text), bin(bin_text);

  env.print(kv::setup::kRule);
  env.print(" Kavel Setup");
  env.print(kv::setup::kRule);
  env.print("Install directory: " + dir_text);
  env.print("");
  env.print("Source (payload):  " + env.exe_dir);

  // Every required piece must be there before anything is touched.
  std::vector<const Item*> items;
  std::vector<fs::path> sources;
  bool missing = false;
  for (const Item& item : kv::shipped::kPayload) {
    if (item.on_linux == OnLinux::no) continue;
    items.push_back(&item);
    sources.push_back(locate(item, env));
    if (item.on_linux == OnLinux::required && sources.back().empty()) {
      env.error("setup: " + std::string(item.name) + " is missing beside setup in " + env.exe_dir);
      missing = true;
    }
  }
  if (missing) return 1;

  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    env.error("setup: cannot create " + dir_text + ": " + ec.message());
    return 1;
  }

  std::set<std::string> installed;
  for (const std::string& old : read_manifest(dir))
    if (present(dir / old)) installed.insert(old);

  bool failed = false;
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string name(items[i]->name);
    const bool folder = items[i]->kind == kv::shipped::Kind::folder;
    const fs::path& from = sources[i];
    if (from.empty()) {
      env.print("  (not found: " + name + ")");
      continue;
    }
    env.print("  copying " + name + (folder ? "/" : ""));
    std::string why;
    if (!folder) {
      if (copy_one(from, dir / name, why)) installed.insert(name);
      else { env.error("setup: cannot copy " + name + ": " + why); failed = true; }
      continue;
    }
    for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (!it->is_regular_file(ec)) continue;
      fs::path rel = fs::path(name) / fs::relative(it->path(), from, ec);
      if (copy_one(it->path(), dir / rel, why)) installed.insert(rel.string());
      else { env.error("setup: cannot copy " + rel.string() + ": " + why); failed = true; }
    }
  }

  env.print("  fixing demo use-paths...");
  for (std::string_view name : kv::shipped::kDemos) {
    fs::path p = dir / "demos" / name;
    std::string text;
    if (!read_all(p, text) || !write_all(p, kv::replace(text, kv::setup::kDemoLibraryFolder, dir_text)))
      env.print("    (skipped " + std::string(name) + ": " + std::string(kv::setup::kCannotOpen) + ")");
  }

  env.print("  writing kavel_paths.cfg");
  std::string cfg = machine_config(env.path, "/usr/x86_64-w64-mingw32/lib");
  if (!write_all(dir / "kavel_paths.cfg", cfg)) {
    env.error("setup: cannot write " + (dir / "kavel_paths.cfg").string());
    failed = true;
  } else {
    installed.insert("kavel_paths.cfg");
  }
  if (cfg.find("NASM=\r\n") != std::string::npos || cfg.find("LINK=\r\n") != std::string::npos) {
    env.print("WARNING: nasm or lld-link was not found on PATH.");
    env.print("Install them (Debian: apt-get install nasm lld), then re-run setup, to enable compiling .kv programs.");
  }

  fs::create_directories(bin, ec);
  for (const char* name : kLinks) {
    fs::path link = bin / name, target = dir / name;
    std::error_code lec;
    auto st = fs::symlink_status(link, lec);
    if (fs::exists(st) || fs::is_symlink(st)) {
      if (!link_points_into(link, dir)) {
        env.print("  kept " + link.string() + ": it is not a link into " + dir_text);
        continue;
      }
      fs::remove(link, lec);
    }
    fs::create_symlink(target, link, lec);
    if (lec) {
      env.error("setup: cannot link " + link.string() + ": " + lec.message());
      failed = true;
    } else {
      env.print("  linking " + link.string() + " -> " + target.string());
    }
  }

  std::string manifest;
  for (const std::string& rel : installed) manifest += rel + "\r\n";
  if (!write_all(dir / kManifest, manifest)) {
    env.error("setup: cannot write " + (dir / kManifest).string());
    failed = true;
  }

  env.print("");
  env.print(kv::setup::kRule);
  if (failed) {
    env.print(" Kavel setup did not complete; see the messages above");
    env.print(kv::setup::kRule);
    return 1;
  }
  env.print(" Kavel installed to " + dir_text);
  if (on_path(env.path, bin_text))
    env.print(" Run:  kavel --version");
  else
    env.print(" Add " + bin_text + " to your PATH, then run:  kavel --version");
  env.print(kv::setup::kRule);
  return 0;
}

int uninstall(const std::vector<std::string>& args, const Env& env) {
  const std::string dir_text = install_dir(env);
  const std::string bin_text = bin_dir(env);
  if (dir_text.empty() || bin_text.empty()) {
    env.error("uninstall: HOME is not set to an absolute folder; cannot find the install folder");
    return 1;
  }
  const fs::path dir(dir_text), bin(bin_text);
  if (!present(dir / kManifest)) {
    env.error("uninstall: no Kavel install found in " + dir_text + " (no " + kManifest + "); nothing removed");
    return 1;
  }
  if (!quiet_flag(args)) {
    env.print("Remove Kavel from " + dir_text + "? [y/N]");
    std::string answer;
    if (!env.ask(answer) || (answer != "y" && answer != "Y" && answer != "yes" && answer != "YES")) {
      env.print("Nothing removed.");
      return 1;
    }
  }

  for (const char* name : kLinks) {
    fs::path link = bin / name;
    if (link_points_into(link, dir)) {
      std::error_code ec;
      fs::remove(link, ec);
      env.print("  removing " + link.string());
    }
  }

  std::vector<std::string> entries = read_manifest(dir);
  std::set<fs::path> folders;
  size_t removed = 0;
  for (const std::string& rel : entries) {
    fs::path p = dir / rel;
    std::error_code ec;
    auto st = fs::symlink_status(p, ec);
    if (ec || fs::is_directory(st) || !fs::exists(st)) continue;
    if (fs::remove(p, ec)) ++removed;
    for (fs::path f = p.parent_path(); f != dir && f.string().size() > dir.string().size(); f = f.parent_path())
      folders.insert(f);
  }
  std::error_code ec;
  fs::remove(dir / kManifest, ec);
  env.print("  removed " + std::to_string(removed) + " files from " + dir_text);
  // Deepest folders first; a folder still holding the user's own files stays.
  std::vector<fs::path> order(folders.begin(), folders.end());
  std::sort(order.begin(), order.end(),
            [](const fs::path& a, const fs::path& b) { return a.string().size() > b.string().size(); });
  for (const fs::path& f : order)
    if (fs::is_empty(f, ec) && !ec) fs::remove(f, ec);
  if (fs::is_empty(dir, ec) && !ec) {
    fs::remove(dir, ec);
  } else {
    env.print("  kept " + dir_text + ": it holds files Kavel did not install");
  }
  env.print("Kavel removed.");
  return 0;
}

}  // namespace kv::linux_install
