#include "uninstall_plan.h"

#include <algorithm>
#include <cctype>

#include "shipped_files.h"

namespace kv::uninstall {
namespace {

std::string normal(std::string s) {
  for (char& c : s) {
    if (c == '/') c = '\\';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  while (s.size() > 1 && s.back() == '\\') s.pop_back();
  return s;
}

void add_once(std::vector<std::string>& list, std::string entry) {
  if (std::find(list.begin(), list.end(), entry) == list.end()) list.push_back(std::move(entry));
}

}  // namespace

std::vector<std::string> installed_files() {
  std::vector<std::string> files;
  for (const shipped::Item& item : shipped::kPayload)
    if (item.kind != shipped::Kind::folder) files.push_back(shipped::windows_name(item));
  files.push_back("kavel_paths.cfg");
  files.push_back("_kavel_setup.ps1");
  for (std::string_view f : shipped::kFolderFiles) files.emplace_back(f);
  for (std::string_view d : shipped::kDemos) add_once(files, "demos/" + std::string(d));
  return files;
}

std::vector<std::string> installed_folders() {
  std::vector<std::string> folders;
  for (const std::string& f : installed_files())
    for (size_t cut = f.rfind('/'); cut != std::string::npos && cut > 0; cut = f.rfind('/', cut - 1))
      add_once(folders, f.substr(0, cut));
  // A shipped folder the tree held no file in is still put down by setup's copy.
  for (const shipped::Item& item : shipped::kPayload)
    if (item.kind == shipped::Kind::folder) add_once(folders, std::string(item.name));
  std::stable_sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
  });
  return folders;
}

std::string path_without(const std::string& path_value, const std::string& folder) {
  const std::string target = normal(folder);
  std::string out;
  bool first = true;
  size_t start = 0;
  while (start <= path_value.size()) {
    size_t end = path_value.find(';', start);
    if (end == std::string::npos) end = path_value.size();
    std::string entry = path_value.substr(start, end - start);
    start = end + 1;
    if (!entry.empty() && normal(entry) == target) continue;
    if (!first) out += ';';
    out += entry;
    first = false;
  }
  return out;
}

bool quiet(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    std::string l = a;
    for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (l == "/quiet" || l == "--quiet" || l == "/q" || l == "-q") return true;
  }
  return false;
}

}  // namespace kv::uninstall
