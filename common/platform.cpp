#include "platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "stage_io.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace kv {

#ifdef _WIN32

std::string exe_dir() {
  char buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  std::string path(buf, n);
  size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? path : path.substr(0, cut);
}

namespace {
// The child shares our console and our redirections: hand it our standard handles.
HANDLE inheritable_std_handle(DWORD which) {
  HANDLE h = GetStdHandle(which);
  if (h != nullptr && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return h;
}
}  // namespace

std::uint32_t system(const std::string& command) {
  flush_all();
  std::fflush(nullptr);
  std::string line = "cmd.exe /c \"" + command + "\"";
  std::vector<char> buf(line.begin(), line.end());
  buf.push_back('\0');
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inheritable_std_handle(STD_INPUT_HANDLE);
  si.hStdOutput = inheritable_std_handle(STD_OUTPUT_HANDLE);
  si.hStdError = inheritable_std_handle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    return system_cannot_start;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = system_cannot_start;
  if (!GetExitCodeProcess(pi.hProcess, &code)) code = system_cannot_start;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<std::uint32_t>(code);
}

void setenv(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
  std::string entry = name + "=" + value;
  _putenv(entry.c_str());
}

std::vector<std::string> program_args(int, char**) { return split_command_line(GetCommandLineA()); }

std::string temp_folder() { return getenv("TEMP"); }

// Opened without sharing, the file is ours alone; Windows deletes it when the handle
// closes, also when the process dies. Another holder makes the open fail with a sharing
// violation: wait. A file still being deleted refuses access for a moment: wait too,
// but not for ever, since a folder we may not write in refuses access the same way.
bool FileLock::acquire(const std::string& path) {
  for (int denied = 0; denied < 200;) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      path_ = path;
      handle_ = reinterpret_cast<std::intptr_t>(h);
      return true;
    }
    DWORD e = GetLastError();
    if (e == ERROR_ACCESS_DENIED)
      ++denied;
    else if (e != ERROR_SHARING_VIOLATION)
      return false;
    Sleep(50);
  }
  return false;
}

FileLock::~FileLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

namespace {
bool make_one_folder(const std::string& path, bool& taken) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  taken = GetLastError() == ERROR_ALREADY_EXISTS;
  return false;
}
}  // namespace

// TEMP is the user's own on Windows.
bool own_private_folder(const std::string& path) {
  CreateDirectoryA(path.c_str(), nullptr);
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string file_identity(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return "";
  auto number = [](DWORD high, DWORD low) {
    return std::to_string((static_cast<std::uint64_t>(high) << 32) | low);
  };
  return number(data.nFileSizeHigh, data.nFileSizeLow) + " " +
         number(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime) + " " +
         number(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime);
}

#else

std::string exe_dir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

std::uint32_t system(const std::string& command) {
  flush_all();
  std::fflush(nullptr);
  char arg0[] = "sh";
  char arg1[] = "-c";
  std::vector<char> cmd(command.begin(), command.end());
  cmd.push_back('\0');
  char* argv[] = {arg0, arg1, cmd.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return system_cannot_start;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return system_cannot_start;
  }
  if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  return system_cannot_start;
}

void setenv(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }

std::vector<std::string> program_args(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

std::string temp_folder() {
  std::string t = getenv("TEMP");
  if (t.empty()) t = getenv("TMPDIR");
  if (t.empty()) t = "/tmp";
  return t;
}

// The holder before us removes the file as it lets go, so a lock won on a file that is
// no longer at the path guards nothing: then try again on the file that is there now.
// The descriptor is not inherited, so no program we start can keep the lock alive.
bool FileLock::acquire(const std::string& path) {
  while (true) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    int r = 0;
    do r = ::flock(fd, LOCK_EX);
    while (r != 0 && errno == EINTR);
    struct stat held {}, now {};
    if (r == 0 && ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
        held.st_ino == now.st_ino) {
      path_ = path;
      handle_ = fd;
      return true;
    }
    ::close(fd);
    if (r != 0) return false;
  }
}

FileLock::~FileLock() {
  if (handle_ == -1) return;
  ::unlink(path_.c_str());
  ::close(static_cast<int>(handle_));
}

namespace {
bool make_one_folder(const std::string& path, bool& taken) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  taken = errno == EEXIST;
  return false;
}
}  // namespace

bool own_private_folder(const std::string& path) {
  ::mkdir(path.c_str(), 0700);
  struct stat st {}, up {};
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 022) == 0 && ::stat(parent.empty() ? "." : parent.c_str(), &up) == 0 &&
         (up.st_uid == ::geteuid() || up.st_uid == 0) && ((up.st_mode & 002) == 0 || (up.st_mode & S_ISVTX) != 0);
}

std::string file_identity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";
  auto at = [](const struct timespec& t) { return std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec); };
  return std::to_string(st.st_size) + " " + at(st.st_mtim) + " " + at(st.st_ctim) + " " +
         std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

#endif

std::string make_private_folder(const std::string& parent) {
  std::random_device device;
  std::mt19937_64 random(device() ^ (static_cast<std::uint64_t>(clock()) << 20) ^
                         reinterpret_cast<std::uintptr_t>(&parent));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "run-%08x", static_cast<unsigned>(random() & 0xFFFFFFFFu));
    std::string path = parent + "/" + name;
    bool taken = false;
    if (make_one_folder(path, taken)) return path;
    if (!taken) return "";
  }
  return "";
}

void remove_folder(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string getenv(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? std::string(v) : std::string();
}

std::uint64_t clock() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::vector<std::string> split_command_line(std::string_view line) {
  size_t i = 0;
  if (i < line.size() && line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') ++i;
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && line[i] != ' ') ++i;
  }
  std::vector<std::string> args;
  while (true) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size()) break;
    std::string arg;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') arg += line[i++];
      if (i < line.size()) ++i;
    } else {
      while (i < line.size() && line[i] != ' ') arg += line[i++];
    }
    args.push_back(arg);
  }
  return args;
}

std::string null_device(Host host) { return host == Host::windows ? "NUL" : "/dev/null"; }

std::string program_suffix(Host host) { return host == Host::windows ? ".exe" : ""; }

std::string backslashed(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string shell_quote(Host host, std::string_view path) {
  if (host == Host::windows) return "\"" + std::string(path) + "\"";
  std::string out = "'";
  for (char c : path) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += "'";
  return out;
}

std::string echo_command(Host host, std::string_view path) {
  if (host == Host::posix) return "printf '%s\\n' " + shell_quote(host, path);
  std::string out = "echo ";
  for (char c : path) {
    if (c == '&' || c == '|' || c == '<' || c == '>' || c == '^') out += '^';
    out += c;
  }
  return out;
}

std::string make_folder_command(Host host, std::string_view folder) {
  if (host == Host::windows) return "mkdir \"" + backslashed(folder) + "\" 2>NUL";
  return "mkdir -p " + shell_quote(host, folder) + " 2>/dev/null";
}

std::string change_folder_command(Host host, std::string_view folder) {
  if (host == Host::windows) return "cd /d \"" + backslashed(folder) + "\" && ";
  return "cd " + shell_quote(host, folder) + " && ";
}

std::string delete_files_command(Host host, const std::vector<std::string>& files) {
  std::string out = host == Host::windows ? "del" : "rm -f";
  for (const std::string& f : files) {
    out += ' ';
    out += host == Host::windows ? "\"" + backslashed(f) + "\"" : shell_quote(host, f);
  }
  out += host == Host::windows ? " 2>NUL" : " 2>/dev/null";
  return out;
}

}  // namespace kv
