kv_user_main:
    push rbp
    mov rbp, rsp
    mov rax, 2
    push rax
    mov rax, 3
    push rax
    call kv_fn_add
    add rsp, 16
    push rax
    mov rcx, [rsp+0]
    call kv_print_int
    lea rcx, [str_nl]
    call kv_print_str
    add rsp, 8
    lea rax, [str_0]
    push rax
    call kv_fn_name
    add rsp, 8
    push rax
    call kv_fn_values
    push rax
    call kv_fn_later
    add rsp, 16
    push rax
    call kv_fn_nothing
    push rax
    mov rcx, [rsp+0]
    call kv_print_int
    lea rcx, [str_nl]
    call kv_print_str
    add rsp, 8
    xor eax, eax
    mov rsp, rbp
    pop rbp
    ret
kv_fn_add:
    push rbp
    mov rbp, rsp
    sub rsp, 16
    mov rax, [rbp+24]
    mov [rbp-8], rax
    mov rax, [rbp+16]
    mov [rbp-16], rax
    mov rax, [rbp-8]
    push rax
    mov rax, [rbp-16]
    push rax
    pop rbx
    pop rax
    add rax, rbx
    push rax
    pop rax
    mov rsp, rbp
    pop rbp
    ret
    xor eax, eax
    mov rsp, rbp
    pop rbp
    ret
kv_fn_name:
    push rbp
    mov rbp, rsp
    sub rsp, 8
    mov rax, [rbp+16]
    mov [rbp-8], rax
    lea rax, [str_1]
    push rax
    mov rax, [rbp-8]
    push rax
    pop rdx
    pop rcx
    call kv_concat
    push rax
    pop rax
    mov rsp, rbp
    pop rbp
    ret
    xor eax, eax
    mov rsp, rbp
    pop rbp
    ret
kv_fn_values:
    push rbp
    mov rbp, rsp
    mov ecx, 4
    call kv_list_new
    mov r10, [rax+16]
    mov qword [rax], 0
    push rax
    pop rax
    mov rsp, rbp
    pop rbp
    ret
    xor eax, eax
    mov rsp, rbp
    pop rbp
    ret
kv_fn_half:
    push rbp
    mov rbp, rsp
    sub rsp, 32
    mov rax, [rbp+40]
    mov [rbp-8], rax
    mov rax, [rbp+32]
    mov [rbp-16], rax
    mov rax, [rbp+24]
    mov [rbp-24], rax
    mov rax, [rbp+16]
    mov [rbp-32], rax
    mov rax, [rbp-8]
    push rax
    mov rax, [dbl_0]
    push rax
    pop rbx
    pop rax
    movq xmm0, rax
    movq xmm1, rbx
    divsd xmm0, xmm1
    movq rax, xmm0
    push rax
    pop rax
    mov rsp, rbp
    pop rbp
    ret
    xor eax, eax
    mov rsp, rbp
    pop rbp
    ret
section .data
str_nl: db 13,10,0
str_noerr: db 0
str_dot: db ".",0
str_minus: db "-",0
kv_sys_prefix: db 'cmd.exe /c "',0
dbl_scale: dq 1000000.0
dbl_ten: dq 10.0
str_0: db "x",0
str_1: db "hi ",0
str_2: db "{",0
str_3: db ", ",0
str_4: db "}",0
str_5: db "runtime error: division by zero",0
str_6: db "runtime error: index out of bounds",0
str_7: db "runtime error: pop() on empty list",0
str_8: db "runtime error: text is not a number",0
str_9: db "runtime error: out of memory",0
str_10: db "runtime error: cannot open file",0
str_11: db "runtime error: map key not found",0
str_12: db "runtime error: stack overflow",0
str_13: db "runtime error: invalid memory access",0
dbl_0: dq 2.0
section .bss
stdout_h: resq 1
stderr_h: resq 1
stdin_h: resq 1
written: resq 1
numbuf: resb 32
fsize: resq 1
heap_cur: resq 1
heap_end: resq 1
g_argv: resq 1
g_exc_top: resq 1
g_exc_rbp: resq 64
g_exc_rsp: resq 64
g_exc_tgt: resq 64
g_last_error: resq 1
wsadata: resb 512
filepos: resq 1
coro_ready: resq 1
coro_current: resq 1
sched_ctx: resq 1
in_buf: resq 1
in_cap: resq 1
in_len: resq 1
in_pos: resq 1
fault_stack: resb 65536
fault_taken: resq 1
