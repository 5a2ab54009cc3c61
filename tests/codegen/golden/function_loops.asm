kv_user_main:
    push rbp
    mov rbp, rsp
    mov rax, 0
    push rax
    pop rax
    mov [kv_g_total], rax
    mov rax, 4
    push rax
    call kv_fn_count
    add rsp, 8
    push rax
    add rsp, 8
    xor eax, eax
    mov rsp, rbp
    pop rbp
    ret
kv_fn_count:
    push rbp
    mov rbp, rsp
    sub rsp, 40
    mov rax, [rbp+16]
    mov [rbp-8], rax
    mov rax, 5
    push rax
    mov rax, 1
    push rax
    mov rax, -1
    push rax
    pop rcx
    pop rbx
    pop rax
    mov r10, 9223372036854775807
    cmp rcx, r10
    jne .cg0
    mov rcx, 1
    cmp rax, rbx
    jle .cg0
    mov rcx, -1
.cg0:
    mov [rbp-24], rax
    mov [rbp-32], rbx
    mov [rbp-40], rcx
kv_L1:
    mov rax, [rbp-24]
    mov rbx, [rbp-32]
    mov rcx, [rbp-40]
    test rcx, rcx
    js .cg1
    cmp rax, rbx
    jg kv_L2
    jmp .cg2
.cg1:
    cmp rax, rbx
    jl kv_L2
.cg2:
    mov [rbp-16], rax
    add rax, rcx
    mov [rbp-24], rax
    mov rax, [rbp-16]
    push rax
    pop rax
    mov [kv_g_total], rax
    jmp kv_L1
kv_L2:
    mov rax, 0
    push rax
    mov rax, 1
    push rax
    mov rax, 9223372036854775807
    push rax
    pop rcx
    pop rbx
    pop rax
    mov r10, 9223372036854775807
    cmp rcx, r10
    jne .cg3
    mov rcx, 1
    cmp rax, rbx
    jle .cg3
    mov rcx, -1
.cg3:
    mov [rbp-24], rax
    mov [rbp-32], rbx
    mov [rbp-40], rcx
kv_L3:
    mov rax, [rbp-24]
    mov rbx, [rbp-32]
    mov rcx, [rbp-40]
    test rcx, rcx
    js .cg4
    cmp rax, rbx
    jg kv_L4
    jmp .cg5
.cg4:
    cmp rax, rbx
    jl kv_L4
.cg5:
    add rax, rcx
    mov [rbp-24], rax
    jmp kv_L3
kv_L4:
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
str_0: db "{",0
str_1: db ", ",0
str_2: db "}",0
str_3: db "runtime error: division by zero",0
str_4: db "runtime error: index out of bounds",0
str_5: db "runtime error: pop() on empty list",0
str_6: db "runtime error: text is not a number",0
str_7: db "runtime error: out of memory",0
str_8: db "runtime error: cannot open file",0
str_9: db "runtime error: map key not found",0
str_10: db "runtime error: stack overflow",0
str_11: db "runtime error: invalid memory access",0
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
kv_g_total: resq 1
