; The module's frame as the runtime sees it: the header that opens every module, the
; constants that open its data section and the cells that open its bss section. emitasm
; writes the header first, the data piece before the string and float pools, and the bss
; piece before the program's globals.

; ---- header
; Every Windows function the runtime calls (WSAGetLastError is declared though nothing
; calls it); only the runtime and the built-in quit (ExitProcess) call them. The last two
; on the kernel32 line are kv_start's, for the fault handler.
default rel
global kv_start
extern GetStdHandle, WriteFile, ReadFile, ExitProcess, VirtualAlloc, CreateFileA, GetFileSizeEx, CloseHandle, GetTickCount, CreateProcessA, WaitForSingleObject, GetExitCodeProcess, GetCommandLineA, SetFilePointerEx, GetEnvironmentVariableA, GetModuleFileNameA, AddVectoredExceptionHandler, SetThreadStackGuarantee
extern WSAStartup, WSAGetLastError, socket, bind, listen, accept, recv, send, closesocket, shutdown
section .text

; ---- data
; The runtime's constants, before the program's pooled texts and floats.
section .data
; the text CR LF, which ends every printed line
str_nl: db 13,10,0
; the empty text: the last error until one occurs, an unset environment variable
str_noerr: db 0
str_dot: db ".",0
str_minus: db "-",0
; the 12 bytes kv_system puts before a command
kv_sys_prefix: db 'cmd.exe /c "',0
; a float's fraction digits are counted in millionths
dbl_scale: dq 1000000.0
dbl_ten: dq 10.0

; ---- bss
; The runtime's cells, all zero at start-up, before the program's globals.
section .bss
; the standard handles, set by kv_start
stdout_h: resq 1
stderr_h: resq 1
stdin_h: resq 1
; scratch: the byte count of every ReadFile and WriteFile (Windows writes the low half)
written: resq 1
; scratch: the decimal digits of an integer, backwards before the 0 byte at numbuf+30
numbuf: resb 32
; scratch: a file size from GetFileSizeEx
fsize: resq 1
; the next free heap byte, and the first byte past the heap
heap_cur: resq 1
heap_end: resq 1
; the program's arguments, a list of texts built by kv_init_argv
g_argv: resq 1
; the handler stack: its depth and the saved rbp, rsp and handler address of each entry
g_exc_top: resq 1
g_exc_rbp: resq KV_HANDLER_LIMIT
g_exc_rsp: resq KV_HANDLER_LIMIT
g_exc_tgt: resq KV_HANDLER_LIMIT
; the text of the most recent runtime error
g_last_error: resq 1
; filled by WSAStartup
wsadata: resb 512
; scratch: a file position from SetFilePointerEx
filepos: resq 1
; the list of ready coroutine contexts (0 until the first spawn), the running context and
; the scheduler's
coro_ready: resq 1
coro_current: resq 1
sched_ctx: resq 1
; the input buffer of kv_readline: the block, its size, the bytes read into it and the
; first of them not yet returned
in_buf: resq 1
in_cap: resq 1
in_len: resq 1
in_pos: resq 1
; the stack kv_fault reports a fault on, and 1 once it has taken one
fault_stack: resb KV_FAULT_STACK
fault_taken: resq 1
