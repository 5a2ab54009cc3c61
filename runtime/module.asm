; The module's frame as the runtime sees it: the header that opens every module, the
; constants that open its data section and the cells that open its bss section. emitasm
; writes the header first, the data piece before the string and float pools, and the bss
; piece before the program's globals.

; ---- header
; Every Windows function the runtime calls (WSAGetLastError is declared though nothing
; calls it); only the runtime calls them.
; GlobalMemoryStatusEx gives the heap's default limit; QueryPerformanceCounter and
; QueryPerformanceFrequency time the collector's pauses; the last two are kv_start's, for
; the fault handler.
default rel
global kv_start
extern GetStdHandle, WriteFile, ReadFile, ExitProcess, VirtualAlloc, CreateFileA, GetFileSizeEx, CloseHandle, GetTickCount, CreateProcessA, WaitForSingleObject, GetExitCodeProcess, GetCommandLineA, SetFilePointerEx, GetEnvironmentVariableA, GetModuleFileNameA, GlobalMemoryStatusEx, QueryPerformanceCounter, QueryPerformanceFrequency, AddVectoredExceptionHandler, SetThreadStackGuarantee
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
; the collector's environment variables and their words, and the messages for a value it
; cannot read
gc_env_mode: db "KAVEL_GC",0
gc_env_max: db "KAVEL_HEAP_MAX",0
gc_word_stress: db "stress",0
gc_word_off: db "off",0
gc_word_stats: db "stats",0
gc_msg_mode: db "runtime error: KAVEL_GC must be stress, off or stats",0
gc_msg_max: db "runtime error: KAVEL_HEAP_MAX must be a number of bytes, with an optional K, M or G",0
; KAVEL_GC=stats at exit: gc: <n> collections, <n> bytes allocated, peak live <n> bytes,
; longest pause <n> us
gc_txt_head: db "gc: ",0
gc_txt_count: db " collections, ",0
gc_txt_alloc: db " bytes allocated, peak live ",0
gc_txt_peak: db " bytes, longest pause ",0
gc_txt_pause: db " us",0
; the block size of each size class
gc_class_size: dq 16,32,48,64,80,96,112,128,160,192,224,256,320,384,448,512,640,768,896,1024,1280,1536,1792,2048,2560,3072,3584,4096,5120,6144,7168,8192

; ---- bss
; The runtime's cells, all zero at start-up, before the program's globals.
section .bss
; the stack kv_fault reports a fault on; it comes before stdout_h, where the collector's
; scan of the cells starts, because it holds no heap address worth keeping
fault_stack: resb KV_FAULT_STACK
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
; kv_alloc's bump region: both stay at the heap's zero page, so it is always empty
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
; the collector's cells: the heap's start, top (end of the pages in use), committed end
; and limit; the page map; the mark stack; the main stack's base
gc_base: resq 1
gc_top: resq 1
gc_commit: resq 1
gc_limit: resq 1
gc_pages: resq 1
gc_marks: resq 1
gc_stack_base: resq 1
; the mode (KV_GC_NORMAL, KV_GC_STRESS, KV_GC_OFF), 1 for stats, 1 while kv_alloc_try asks
gc_mode: resq 1
gc_stats: resq 1
gc_try: resq 1
; each class's free list (blocks) and list of spans with free blocks (page numbers), and
; the free runs of pages (page numbers, in address order)
gc_free: resq KV_CLASSES
gc_partial: resq KV_CLASSES
gc_runs: resq 1
; bytes allocated in all; the count at which the next collection starts; bytes live after
; the last one; collections made, most bytes found live, the longest pause and the clock's
; ticks a second (for stats); whether the mark stack overflowed
gc_allocated: resq 1
gc_trigger: resq 1
gc_live: resq 1
gc_count: resq 1
gc_peak: resq 1
gc_pause: resq 1
gc_freq: resq 1
gc_overflow: resq 1
; the input buffer of kv_readline: the block, its size, the bytes read into it and the
; first of them not yet returned
in_buf: resq 1
in_cap: resq 1
in_len: resq 1
in_pos: resq 1
; 1 once kv_fault has taken a fault
fault_taken: resq 1
