// Runs the checker in-process over texts: the main file is "main.kv", used files come
// from a map of names to texts (any other name cannot be opened).
#pragma once
#include <map>
#include <string>

#include "vetter.h"

namespace kv::vetter::test {

using FileMap = std::map<std::string, std::string>;

inline UseReader map_reader(const FileMap& files) {
  return [files](const std::string& name, std::string& text) {
    auto it = files.find(name);
    if (it == files.end()) return false;
    text = it->second;
    return true;
  };
}

inline CheckResult run(const std::string& main, const FileMap& files = {}) {
  return check_source("main.kv", main, map_reader(files));
}

// The diagnostics of a run, one CR LF ended line each.
inline std::string diags(const std::string& main, const FileMap& files = {}) {
  return run(main, files).diagnostics;
}

// One diagnostic line as the checker writes it.
inline std::string line(const std::string& location, const std::string& message,
                        const std::string& near) {
  return "[err] [type error] " + location + ": " + message + " near " + near + "\r\n";
}

}  // namespace kv::vetter::test
