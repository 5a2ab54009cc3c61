// setup as Windows users run it: copy the payload into LOCALAPPDATA/Kavel, fix the
// demos' library paths, write and run the PowerShell script, report.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::setup {

// What setup needs from the machine. The program wires these to the console, the
// command processor and the file system; tests wire them to recorders.
struct Host {
  std::function<void(std::string_view)> print;               // one line; CR LF is added
  std::function<void(std::string_view)> error;               // one line on standard error
  std::function<unsigned(const std::string&)> system;        // run through the command processor
  std::function<bool(const std::string&, std::string&)> read_file;
  std::function<bool(const std::string&, const std::string&)> write_file;
  std::string exe_dir;         // folder holding setup itself (the payload)
  std::string local_app_data;  // value of LOCALAPPDATA, empty when unset
};

// The line of 39 "=" around setup's banner and its last words, on both hosts.
inline constexpr std::string_view kRule = "=======================================";
// The runtime's message for a file that cannot be read or written.
inline constexpr std::string_view kCannotOpen = "runtime error: cannot open file";

// Where the demos name the library (the folder it lived in on the machine they were
// written on); setup and the Linux install put the install folder in its place.
inline constexpr std::string_view kDemoLibraryFolder = "d:/Kavel";

// The command texts handed to the command processor.
std::string mkdir_command(const std::string& folder);
std::string copy_file_command(const std::string& from, const std::string& to);
std::string copy_folder_command(const std::string& from, const std::string& to);

// True for "--from-inno" as the first argument (arguments after the program name).
bool from_package(const std::vector<std::string>& args);

// The whole run; the result is the exit code.
int run(const std::vector<std::string>& args, const Host& host);

}  // namespace kv::setup
