; Files, sockets, processes and environment: the routines built directly on kernel32 and
; ws2_32 calls. A handle (file or socket) is an integer for the program.

; ---- kv_clock
; Milliseconds since Windows started (GetTickCount, so it wraps after about 49.7 days).
; in:      nothing
; out:     rax = milliseconds, 32 bits zero-extended
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_clock:
    push rbp
    mov rbp, rsp
    and rsp, -16
    sub rsp, 32
    call GetTickCount
    mov eax, eax
    mov rsp, rbp
    pop rbp
    ret

; ---- kv_system
; Runs a command as cmd.exe /c "<command>" (the prefix is kv_sys_prefix), waits for it to
; end and gives its exit code.
; in:      rcx = command text
; out:     rax = exit code, 32 bits zero-extended; 4294967295 when it cannot be started
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_system:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    push rdi
    push r12
    and rsp, -16
    sub rsp, 80
    mov rbx, rcx
    call kv_strlen
    mov rsi, rax
    lea rcx, [rax+14]
    call kv_alloc
    mov rdi, rax
    lea r10, [kv_sys_prefix]
    xor ecx, ecx
.pre: mov dl, [r10+rcx]
    mov [rdi+rcx], dl
    inc ecx
    cmp ecx, 12
    jb .pre
    xor ecx, ecx
.cpy: cmp rcx, rsi
    jae .quote
    mov dl, [rbx+rcx]
    mov [rdi+rcx+12], dl
    inc rcx
    jmp .cpy
.quote: mov byte [rdi+rsi+12], 34
    mov byte [rdi+rsi+13], 0
    mov ecx, 104
    call kv_alloc
    mov r12, rax
    xor ecx, ecx
.zsi: mov qword [r12+rcx*8], 0
    inc ecx
    cmp ecx, 13
    jb .zsi
    mov dword [r12], 104
    mov ecx, 32
    call kv_alloc
    mov rbx, rax
    mov qword [rbx], 0
    mov qword [rbx+8], 0
    mov qword [rbx+16], 0
    mov qword [rbx+24], 0
    xor ecx, ecx
    mov rdx, rdi
    xor r8d, r8d
    xor r9d, r9d
    mov qword [rsp+32], 0
    mov qword [rsp+40], 0
    mov qword [rsp+48], 0
    mov qword [rsp+56], 0
    mov [rsp+64], r12
    mov [rsp+72], rbx
    call CreateProcessA
    test eax, eax
    jnz .started
    mov eax, -1
    jmp .out
.started: mov rcx, [rbx]
    mov edx, -1
    call WaitForSingleObject
    mov ecx, 4
    call kv_alloc
    mov rsi, rax
    mov dword [rsi], 0
    mov rcx, [rbx]
    mov rdx, rsi
    call GetExitCodeProcess
    mov rcx, [rbx]
    call CloseHandle
    mov rcx, [rbx+8]
    call CloseHandle
    mov eax, [rsi]
.out: lea rsp, [rbp-32]
    pop r12
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_readfile
; A whole file as a new text, opened through kv_file_open (like every text, it reads as
; ending at its first 0 byte).
; in:      rcx = path
; out:     rax = a new text
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_nofile when it cannot be opened; kv_oom when the heap cannot give it room,
;          after its handle is closed
kv_readfile:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 64
; opened for reading as file_open opens it; a missing file raises there
    call kv_file_open
    mov rbx, rax
; a device without a size (GetFileSizeEx fails) reads as an empty file
    mov qword [fsize], 0
    mov rcx, rbx
    lea rdx, [fsize]
    call GetFileSizeEx
; a file larger than the heap can give closes its handle before reporting out of memory,
; so a caught error leaves no file locked
    mov rcx, [fsize]
    inc rcx
    call kv_alloc_try
    test rax, rax
    jz .toobig
    mov rsi, rax
    mov dword [written], 0
    mov rcx, rbx
    mov rdx, rsi
    mov r8d, [fsize]
    lea r9, [written]
    mov qword [rsp+32], 0
    call ReadFile
    mov eax, [written]
    mov byte [rsi+rax], 0
    mov rcx, rbx
    call CloseHandle
    mov rax, rsi
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret
.toobig: mov rcx, rbx
    call CloseHandle
    jmp kv_oom

; ---- kv_file_open
; Opens an existing file for reading; others may read it at the same time.
; in:      rcx = path
; out:     rax = file handle
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_nofile
kv_file_open:
    push rbp
    mov rbp, rsp
    and rsp, -16
    sub rsp, 64
    mov edx, 0x80000000
    mov r8d, 1
    xor r9d, r9d
    mov qword [rsp+32], 3
    mov qword [rsp+40], 0
    mov qword [rsp+48], 0
    call CreateFileA
    cmp rax, -1
    je kv_nofile
    mov rsp, rbp
    pop rbp
    ret

; ---- kv_file_read_chunk
; Reads up to a count of bytes from a file's position into a new text (fewer at its end).
; in:      rcx = file handle, rdx = count (a negative count reads nothing)
; out:     rax = a new text of the bytes read
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom when count + 1 bytes do not fit in the heap
kv_file_read_chunk:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    push rdi
    and rsp, -16
    sub rsp, 48
    mov rbx, rcx
    mov rdi, rdx
; a negative count reads nothing: handed to kv_alloc it would move the heap top back
    test rdi, rdi
    jns .count
    xor edi, edi
.count: lea rcx, [rdi+1]
    call kv_alloc
    mov rsi, rax
    mov dword [written], 0
    mov rcx, rbx
    mov rdx, rsi
    mov r8d, edi
    lea r9, [written]
    mov qword [rsp+32], 0
    call ReadFile
    mov eax, [written]
    mov byte [rsi+rax], 0
    mov rax, rsi
    lea rsp, [rbp-24]
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_file_eof
; Whether a file's position has reached its size.
; in:      rcx = file handle
; out:     rax = 1 at the end, else 0
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_file_eof:
    push rbp
    mov rbp, rsp
    push rbx
    and rsp, -16
    sub rsp, 32
    mov rbx, rcx
; a handle without a size or position (closed, a pipe) counts as at its end
    mov qword [fsize], 0
    mov qword [filepos], 0
    lea rdx, [fsize]
    call GetFileSizeEx
    mov rcx, rbx
    xor edx, edx
    lea r8, [filepos]
    mov r9d, 1
    call SetFilePointerEx
    xor eax, eax
    mov r10, [filepos]
    cmp r10, [fsize]
    setge al
    lea rsp, [rbp-8]
    pop rbx
    pop rbp
    ret

; ---- kv_file_close
; Closes a file handle.
; in:      rcx = file handle
; out:     rax = CloseHandle's result: not 0 on success
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_file_close:
    push rbp
    mov rbp, rsp
    and rsp, -16
    sub rsp, 32
    call CloseHandle
    mov eax, eax
    mov rsp, rbp
    pop rbp
    ret

; ---- kv_writefile
; Writes a text to a file, created or emptied first, and closes it.
; in:      rcx = path, rdx = text
; out:     rax = 1
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_nofile when the file cannot be created
kv_writefile:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 64
    mov rsi, rdx
    mov edx, 0x40000000
    xor r8d, r8d
    xor r9d, r9d
    mov qword [rsp+32], 2
    mov qword [rsp+40], 0
    mov qword [rsp+48], 0
    call CreateFileA
    cmp rax, -1
    je kv_nofile
    mov rbx, rax
    mov rcx, rsi
    call kv_strlen
    mov rcx, rbx
    mov rdx, rsi
    mov r8d, eax
    lea r9, [written]
    mov qword [rsp+32], 0
    call WriteFile
    mov rcx, rbx
    call CloseHandle
    mov eax, 1
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_getenv
; The value of an environment variable; the empty text when it is not set.
; in:      rcx = name
; out:     rax = a new text, or str_noerr
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_getenv:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    push rdi
    and rsp, -16
    sub rsp, 32
    mov rbx, rcx
; a value that does not fit asks for a block of the size Windows reports and reads again
    mov edi, 1024
.try: mov rcx, rdi
    call kv_alloc
    mov rsi, rax
    mov rcx, rbx
    mov rdx, rsi
    mov r8d, edi
    call GetEnvironmentVariableA
    mov eax, eax
    test rax, rax
    jz .none
    cmp rax, rdi
    jb .done
    mov rdi, rax
    jmp .try
.none: lea rsi, [str_noerr]
.done: mov rax, rsi
    lea rsp, [rbp-24]
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_exedir
; The folder of the running program: its path up to the last backslash, not included (the
; whole path when it has none).
; in:      nothing
; out:     rax = a new text
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_exedir:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 32
; a path that fills the buffer may be cut short: read it again into a block twice the size
    mov ebx, 1024
.try: mov rcx, rbx
    call kv_alloc
    mov rsi, rax
    xor ecx, ecx
    mov rdx, rsi
    mov r8d, ebx
    call GetModuleFileNameA
    mov eax, eax
    cmp rax, rbx
    jb .fits
    add rbx, rbx
    jmp .try
.fits: mov byte [rsi+rax], 0
.scan: test rax, rax
    jz .done
    dec rax
    cmp byte [rsi+rax], 92
    jne .scan
    mov byte [rsi+rax], 0
.done: mov rax, rsi
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_sock_listen
; A TCP socket listening on a port of every local address (backlog 8), with Winsock 2.2
; started first. Only the port's low 16 bits count. When the port cannot be had (in use,
; or not allowed) the socket is closed again: a program must not go on to accept on a
; socket that listens nowhere.
; in:      rcx = port
; out:     rax = socket; all ones (-1) when no socket could be made, bound or set to listen
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_sock_listen:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 48
    mov rsi, rcx
    mov ecx, 0x0202
    lea rdx, [wsadata]
    call WSAStartup
    mov ecx, 2
    mov edx, 1
    mov r8d, 6
    call socket
    mov rbx, rax
    cmp rax, -1
    je .done
    mov word [rsp+32], 2
    mov eax, esi
    rol ax, 8
    mov [rsp+34], ax
    mov dword [rsp+36], 0
    mov qword [rsp+40], 0
    mov rcx, rbx
    lea rdx, [rsp+32]
    mov r8d, 16
    call bind
    test eax, eax
    jnz .refused
    mov rcx, rbx
    mov edx, 8
    call listen
    test eax, eax
    jnz .refused
    mov rax, rbx
.done:
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret
.refused:
    mov rcx, rbx
    call closesocket
    mov rax, -1
    jmp .done

; ---- kv_sock_accept
; Waits for the next connection on a listening socket.
; in:      rcx = listening socket
; out:     rax = connected socket, all ones on failure
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_sock_accept:
    push rbp
    mov rbp, rsp
    and rsp, -16
    sub rsp, 32
    xor edx, edx
    xor r8d, r8d
    call accept
    mov rsp, rbp
    pop rbp
    ret

; ---- kv_sock_recv
; One receive of at most 4095 bytes as a new text; the empty text when the peer has closed
; or the receive failed.
; in:      rcx = socket
; out:     rax = a new text (in a 4096-byte block)
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_sock_recv:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 32
    mov rbx, rcx
    mov ecx, 4096
    call kv_alloc
    mov rsi, rax
    mov rcx, rbx
    mov rdx, rsi
    mov r8d, 4095
    xor r9d, r9d
    call recv
    test eax, eax
    jg .got
    xor eax, eax
.got: mov eax, eax
    mov byte [rsi+rax], 0
    mov rax, rsi
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_sock_send
; One send of a text's bytes; it may send fewer.
; in:      rcx = socket, rdx = text
; out:     rax = bytes sent, -1 on failure
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_sock_send:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 32
    mov rbx, rcx
    mov rsi, rdx
    mov rcx, rdx
    call kv_strlen
    mov rcx, rbx
    mov rdx, rsi
    mov r8d, eax
    xor r9d, r9d
    call send
; send returns a 32-bit int: a failure reads as -1
    movsxd rax, eax
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_sock_close
; Ends sending on a socket, then closes it.
; in:      rcx = socket
; out:     rax = closesocket's result: 0, or -1 on failure
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_sock_close:
    push rbp
    mov rbp, rsp
    push rbx
    and rsp, -16
    sub rsp, 32
    mov rbx, rcx
    mov edx, 1
    call shutdown
    mov rcx, rbx
    call closesocket
    movsxd rax, eax
    lea rsp, [rbp-8]
    pop rbx
    pop rbp
    ret

; ---- kv_fault
; The program's exception handler, registered by kv_start ahead of any other: it turns
; the faults a program can run into into runtime errors with a message. Stack exhaustion
; (the main stack overflowing, or a running coroutine touching the guard page of its
; stack) resumes at kv_nostack; an access violation in the program's own code resumes at
; kv_badmem. Both resume on fault_stack, as the faulting stack may have no room left, and
; with the handler stack cleared: a catch block cannot go on sanely from a spent stack or
; from a routine stopped half-way, so these errors always end the program. Everything
; else, faults in system code (which may handle its own) and a second fault while one is
; being reported, go on to the system.
; in:      rcx = the exception pointers: the record (its code at 0, the address of the
;          faulting instruction at 16), then the context (rsp at 152, rip at 248)
; out:     eax = -1 to resume with the changed context, 0 to pass the exception on
; changes: rax, rdx, r8, flags
; errors:  none
; entry:   called by Windows on the faulting stack, which may have little room left: the
;          routine uses none of its own
kv_fault:
    cmp qword [fault_taken], 0
    jne .pass
    mov rax, [rcx]
    mov edx, [rax]
    lea r8, [kv_nostack]
    cmp edx, 0xC00000FD
    je .take
    cmp edx, 0x80000001
    je .guard
    cmp edx, 0xC0000005
    jne .pass
; an access violation is the program's own when the faulting instruction lies in its
; image: the base from the process block, the size from the image's PE header
    mov rdx, [rax+16]
    mov rax, [gs:0x60]
    mov rax, [rax+16]
    cmp rdx, rax
    jb .pass
    mov r8d, [rax+60]
    mov r8d, [rax+r8+80]
    add rax, r8
    cmp rdx, rax
    jae .pass
    lea r8, [kv_badmem]
    jmp .take
; only coroutine stacks have guard pages that reach the program: the main stack's are
; handled by Windows itself
.guard:
    mov rax, [coro_current]
    test rax, rax
    jz .pass
    cmp rax, [sched_ctx]
    je .pass
.take:
    mov qword [fault_taken], 1
    mov qword [g_exc_top], 0
    mov rax, [rcx+8]
    mov [rax+248], r8
    lea rdx, [fault_stack+KV_FAULT_STACK]
    mov [rax+152], rdx
    mov eax, -1
    ret
.pass:
    xor eax, eax
    ret
