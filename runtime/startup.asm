; Start-up, heap and runtime errors: the entry point kv_start, kv_alloc (its slow path,
; the allocator, is heap.asm's), the argument list, and the error exits, written from one
; template and its table.

; ---- kv_start
; The process entry point, written at the head of the text section: fetches the three
; standard handles, registers kv_fault (so stack exhaustion and memory faults end the
; program with a message), sets up the heap (kv_heap_init), makes the last error the empty
; text, builds the argument list, runs the program body and exits with code 0 when it
; returns.
; in:      nothing (entered from Windows)
; out:     does not return
; changes: everything
; errors:  kv_oom when the memory is refused (no handler exists yet, so the program prints
;          the message and exits with code 1; the standard error handle is already set)
kv_start:
    sub rsp, 40
    mov ecx, -11
    call GetStdHandle
    mov [stdout_h], rax
    mov ecx, -12
    call GetStdHandle
    mov [stderr_h], rax
    mov ecx, -10
    call GetStdHandle
    mov [stdin_h], rax
; the fault handler goes first in line, and the main stack keeps room for it to run in
    mov ecx, 1
    lea rdx, [kv_fault]
    call AddVectoredExceptionHandler
    mov dword [rsp+32], KV_STACK_GUARANTEE
    lea rcx, [rsp+32]
    call SetThreadStackGuarantee
; the heap
    call kv_heap_init
    test rax, rax
    jz kv_oom
    lea r10, [str_noerr]
    mov [g_last_error], r10
    call kv_init_argv
    call kv_user_main
    xor ecx, ecx
    call kv_exit

; ---- kv_alloc
; The allocator's entry: bumps heap_cur while the block fits below heap_end. Both stay at
; the zero page, so a request for 0 bytes gets that address and every other request goes
; on to kv_alloc_block, which takes a free block, collecting or growing the heap when it
; must. A block is all zero when handed out (a reused one is cleared first).
; in:      rcx = size in bytes, never negative (every caller sees to it: a negative size
;          would move the top back)
; out:     rax = the block, 16-byte aligned, of at least the size rounded up to a multiple
;          of 16; a size of 0 returns the zero page, which must not be written
; changes: rax, rcx, r10, flags (only these: callers keep pointers in rdx, r8, r9, r11 and
;          the preserved registers across it, and the collector finds them there)
; errors:  kv_oom when the heap cannot give the block, even after a collection; nothing is
;          allocated then
kv_alloc:
    add rcx, 15
    and rcx, -16
    mov rax, [heap_cur]
    lea r10, [rax+rcx]
    cmp r10, [heap_end]
    ja kv_alloc_block
    mov [heap_cur], r10
    ret

; ---- kv_init_argv
; Builds g_argv, the list of the program's arguments, from the command line: the program's
; own name is skipped (up to its closing double quote when it starts with one, else up to
; the first blank); the arguments are split at blanks (byte 32 only), and one that starts
; with a double quote runs to the next double quote, which is dropped, or to the end.
; in:      nothing
; out:     g_argv = a new list of new texts
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_init_argv:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    push rdi
    push r12
    and rsp, -16
    sub rsp, 32
    call GetCommandLineA
    mov rsi, rax
    cmp byte [rsi], 34
    jne .plain
    inc rsi
.quoted:
    movzx eax, byte [rsi]
    test eax, eax
    jz .list
    inc rsi
    cmp eax, 34
    jne .quoted
    jmp .list
.plain:
    movzx eax, byte [rsi]
    test eax, eax
    jz .list
    cmp eax, 32
    je .list
    inc rsi
    jmp .plain
.list:
    mov ecx, 4
    call kv_list_new
    mov rbx, rax
.blanks:
    cmp byte [rsi], 32
    jne .start
    inc rsi
    jmp .blanks
.start:
    cmp byte [rsi], 0
    je .done
    xor r12d, r12d
    cmp byte [rsi], 34
    jne .measure
    inc rsi
    mov r12d, 1
.measure:
    mov rdi, rsi
.scan:
    movzx eax, byte [rdi]
    test eax, eax
    jz .copy
    test r12d, r12d
    jz .unquoted
    cmp eax, 34
    je .copy
    inc rdi
    jmp .scan
.unquoted:
    cmp eax, 32
    je .copy
    inc rdi
    jmp .scan
.copy:
    mov rcx, rdi
    sub rcx, rsi
    inc rcx
    call kv_alloc
    xor ecx, ecx
.char:
    lea r8, [rsi+rcx]
    cmp r8, rdi
    jae .close
    movzx edx, byte [r8]
    mov [rax+rcx], dl
    inc rcx
    jmp .char
.close:
    mov byte [rax+rcx], 0
    mov rsi, rdi
    test r12d, r12d
    jz .push
    cmp byte [rsi], 34
    jne .push
    inc rsi
.push:
    mov rcx, rbx
    mov rdx, rax
    mov r8d, KV_KIND_TEXT
    call kv_list_push
    jmp .blanks
.done:
    mov [g_argv], rbx
    lea rsp, [rbp-32]
    pop r12
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- exit_template
; One error exit, written after the routine block once for each row of exit_table: EXIT
; stands for the row's label and MESSAGE for its message. The message becomes the last
; error. With a handler active, the innermost one is removed and resumed in the frame that
; registered it (its rbp and rsp restored), with the message in rcx; whatever the failing
; routine had pushed is abandoned. With none, the message and CR LF go to standard error
; and the process ends with exit code 1 (through kv_exit). The message is printed without
; allocating, so running out of memory can always be reported.
; entry:   by a jump (jz kv_div0, ja kv_oom, ...) from any depth of calls
; in:      nothing
; out:     does not return
; changes: everything
; errors:  none of its own
EXIT:
    lea rcx, [@@MESSAGE@@]
    mov [g_last_error], rcx
    mov rax, [g_exc_top]
    test rax, rax
    jz .noh
    dec rax
    mov [g_exc_top], rax
    lea r11, [g_exc_rbp]
    mov rbp, [r11 + rax*8]
    lea r11, [g_exc_rsp]
    mov rsp, [r11 + rax*8]
    lea r11, [g_exc_tgt]
    mov r10, [r11 + rax*8]
    jmp r10
.noh: lea rcx, [@@MESSAGE@@]
    call kv_print_err
    lea rcx, [str_nl]
    call kv_print_err
    and rsp, -16
    sub rsp, 32
    mov ecx, 1
    call kv_exit

; ---- exit_table
; The error exits in module order: the label, one blank, the message. Raised by:
; kv_div0 generated integer division and remainder; kv_oob kv_list_get, kv_list_set and
; kv_text_index; kv_empty kv_list_pop; kv_badnum kv_str_to_int and kv_str_to_float; kv_oom
; kv_alloc, kv_start and the capacity limits; kv_nofile kv_readfile, kv_writefile and
; kv_file_open; kv_nokey kv_map_get; kv_nostack and kv_badmem kv_fault, which clears the
; handler stack first, so these two always end the program.
kv_div0 runtime error: division by zero
kv_oob runtime error: index out of bounds
kv_empty runtime error: pop() on empty list
kv_badnum runtime error: text is not a number
kv_oom runtime error: out of memory
kv_nofile runtime error: cannot open file
kv_nokey runtime error: map key not found
kv_nostack runtime error: stack overflow
kv_badmem runtime error: invalid memory access
