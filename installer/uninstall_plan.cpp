#include "uninstall_plan.h"

#include <algorithm>
#include <cctype>

#include "setup.h"
#include "shipped_files.h"

namespace kv::uninstall {

std::vector<std::string> installed_files() {
  std::vector<std::string> files = kv::setup::kPayloadFiles;
  files.push_back("tools/nasm.exe");
  files.push_back("kavel_paths.cfg");
  files.push_back("_kavel_setup.ps1");
  for (const char* f : kShippedDocs)
    if (f) files.push_back(std::string("docs/") + f);
  for (const char* f : kShippedDemos)
    if (f) files.push_back(std::string("demos/") + f);
  for (const std::string& d : kv::setup::kDemoFiles) {
    std::string rel = "demos/" + d;
    if (std::find(files.begin(), files.end(), rel) == files.end()) files.push_back(rel);
  }
  return files;
}

std::vector<std::string> installed_folders() {
  std::vector<std::string> folders = {"tools", "docs", "demos"};
  for (const std::string& f : installed_files()) {
    for (size_t cut = f.rfind('/'); cut != std::string::npos && cut > 0; cut = f.rfind('/', cut - 1)) {
      std::string folder = f.substr(0, cut);
      if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
  }
  std::stable_sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
  });
  return folders;
}

namespace {

std::string normal(std::string s) {
  for (char& c : s) {
    if (c == '/') c = '\\';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  while (s.size() > 1 && s.back() == '\\') s.pop_back();
  return s;
}

}  // namespace

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
