// Everything that differs between the Windows and the POSIX host lives here: starting
// a command through the command processor, the program's folder, the environment, the
// clock, and how the driver's shell commands are spelled on each host.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

enum class Host { windows, posix };

#ifdef _WIN32
inline constexpr Host native_host = Host::windows;
#else
inline constexpr Host native_host = Host::posix;
#endif

// Folder of the running executable, without a trailing separator.
std::string exe_dir();

// What system() gives when the command processor itself cannot be started.
inline constexpr std::uint32_t system_cannot_start = 4294967295u;

// Runs a command line through the command processor and waits for it. Windows:
// "cmd.exe /c \"" + command + "\""; POSIX: /bin/sh -c command. The exit code comes back
// as an unsigned 32-bit value (a POSIX child killed by a signal gives 128 + signal, as
// the shell reports it). Our own buffered output is flushed first so lines keep order.
std::uint32_t system(const std::string& command);

// Value of an environment variable; the empty text when it is unset or empty.
std::string getenv(const std::string& name);
void setenv(const std::string& name, const std::string& value);

// Milliseconds from a steady clock; only differences mean anything.
std::uint64_t clock();

// The program's arguments after its own name. On Windows they are cut from the raw
// command line the way every built Kavel program cuts its own; on POSIX they are argv.
std::vector<std::string> program_args(int argc, char** argv);

// Cuts a Windows command line: the program name is skipped (quoted or up to the first
// blank), arguments are separated by blanks (character 32 only), an argument that starts
// with a double quote runs to the next double quote, and there are no escapes.
std::vector<std::string> split_command_line(std::string_view line);

// Folder for temporary files: TEMP. On POSIX an unset or empty TEMP falls back to TMPDIR,
// then /tmp, so the build folder never lands at the root of the file system.
std::string temp_folder();

// A lock on a file, so that builds sharing file names take turns. acquire waits while
// another process holds the lock; it gives false when the lock file cannot be created.
// The lock ends with the object, or with the process however it ends, and the lock file
// is removed then.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();
  bool acquire(const std::string& path);

 private:
  std::string path_;
  std::intptr_t handle_ = -1;
};

// Creates a folder with a fresh name ("run-" and 8 hex digits) inside parent, which no
// other run can be using; its path, or "" when none can be made.
std::string make_private_folder(const std::string& parent);

// Removes a folder and everything in it, quietly.
void remove_folder(const std::string& path);

// Creates the folder when it is missing (POSIX: readable and writable by this user only)
// and says whether it is ours alone: a folder, and on POSIX owned by this user and not
// writable by anyone else, inside a folder that nobody else can rename it out of (owned
// by this user or by root, and not writable by others unless sticky). A shared temporary
// folder could otherwise hand us programs that someone else put there.
bool own_private_folder(const std::string& path);

// What tells one version of a file from the next without reading it: its size and
// modification time, and where the host keeps them, its change time, device and file
// number (POSIX) or creation time (Windows). "" when there is no such file.
std::string file_identity(const std::string& path);

// The longest command line Windows hands a program: 32767 characters with the closing 0.
inline constexpr std::size_t max_command_line = 32766;

// --- how the driver's shell commands are spelled on each host ---

std::string null_device(Host host);         // "NUL" or "/dev/null"
std::string program_suffix(Host host);      // ".exe" or ""
std::string backslashed(std::string_view s);  // every "/" turned into "\"

// One path as a single word of the command line. Windows: inside double quotes (file
// names cannot hold one). POSIX: inside single quotes, an embedded quote written '\''
// so no character of the path is special to the shell.
std::string shell_quote(Host host, std::string_view path);

// A command that writes the path and a line end to standard output, for piping into a
// stage. Windows: "echo " + path, with & | < > ^ written ^-escaped so they are echoed
// instead of acted on (ordinary paths are unchanged). POSIX: printf '%s\n' 'path'.
std::string echo_command(Host host, std::string_view path);

// Creates a folder (and its parents), quietly.
std::string make_folder_command(Host host, std::string_view folder);

// Deletes files, quietly, ignoring those that do not exist.
std::string delete_files_command(Host host, const std::vector<std::string>& files);

// Makes folder the current folder of the rest of a command line (followed by " && ").
std::string change_folder_command(Host host, std::string_view folder);

}  // namespace kv
