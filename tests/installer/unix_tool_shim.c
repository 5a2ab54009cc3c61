/* A Windows stand-in for a Linux tool, for the toolchain tests under Wine.

   Wine starts a "#!" script named by CreateProcess as a Unix program but does not wait for
   it, and reports exit code 0 at once: kavelc.exe would link before NASM has written the
   object file and would miss a failing step. This shim, say nasm.exe, runs nasm.sh beside it
   with a marker path in front of the arguments, waits until the script has written its exit
   code into the marker, and exits with that code. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static const char* skip_program_name(const char* line) {
  if (*line == '"') {
    line++;
    while (*line && *line != '"') line++;
    if (*line) line++;
  } else {
    while (*line && *line != ' ' && *line != '\t') line++;
  }
  while (*line == ' ' || *line == '\t') line++;
  return line;
}

int main(void) {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
  if (n == 0 || n >= sizeof self || n < 4) return 125;
  self[n - 4] = 0; /* drop ".exe" */

  char script[MAX_PATH + 8], marker[MAX_PATH + 64], unix_marker[MAX_PATH + 64];
  snprintf(script, sizeof script, "%s.sh", self);
  snprintf(marker, sizeof marker, "%s-%lu.done", self, (unsigned long)GetCurrentProcessId());
  /* The script sees Unix paths: drive Z: is the Unix root. */
  const char* tail = (marker[0] && marker[1] == ':') ? marker + 2 : marker;
  size_t i = 0;
  for (; tail[i] && i + 1 < sizeof unix_marker; i++) unix_marker[i] = tail[i] == '\\' ? '/' : tail[i];
  unix_marker[i] = 0;
  DeleteFileA(marker);

  const char* args = skip_program_name(GetCommandLineA());
  size_t len = strlen(script) + strlen(unix_marker) + strlen(args) + 16;
  char* line = malloc(len);
  if (!line) return 125;
  snprintf(line, len, "\"%s\" \"%s\" %s", script, unix_marker, args);

  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  if (!CreateProcessA(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    fprintf(stderr, "shim: cannot start %s\n", script);
    return 125;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);

  for (int waited = 0; waited < 300000; waited += 20) {
    FILE* f = fopen(marker, "rb");
    if (f) {
      int code = 125;
      int got = fscanf(f, "%d", &code);
      fclose(f);
      if (got == 1) {
        DeleteFileA(marker);
        return code;
      }
    }
    Sleep(20);
  }
  fprintf(stderr, "shim: %s did not finish\n", script);
  return 124;
}
