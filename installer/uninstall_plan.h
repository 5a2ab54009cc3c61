// What uninstall removes on Windows: exactly the files setup puts into the install
// folder (the payload, NASM, the shipped docs and demos, the configuration file),
// and the install folder's entry in the user's PATH.
#pragma once
#include <string>
#include <vector>

namespace kv::uninstall {

// Paths relative to the install folder, with "/" separators.
std::vector<std::string> installed_files();

// The folders inside the install folder, deepest first.
std::vector<std::string> installed_folders();

// A PATH value (entries separated by ";") without the entries naming folder; the
// comparison ignores letter case, the kind of slash and a trailing separator.
std::string path_without(const std::string& path_value, const std::string& folder);

// True for "/quiet" (or "--quiet", "/q", "-q") among the arguments.
bool quiet(const std::vector<std::string>& args);

}  // namespace kv::uninstall
