kv_user_main:
    push rbp
    mov rbp, rsp
    lea rax, [str_0]
    push rax
    mov rax, 5
    push rax
    pop rcx
    call kv_int_to_str
    mov rdx, rax
    pop rcx
    call kv_concat
    push rax
    mov rax, [dbl_0]
    push rax
    pop rcx
    movq xmm0, rcx
    call kv_dbl_to_str
    mov rdx, rax
    pop rcx
    call kv_concat
    push rax
    mov rax, 3
    push rax
    lea rax, [str_1]
    push rax
    pop rbx
    pop rcx
    call kv_int_to_str
    mov rcx, rax
    mov rdx, rbx
    call kv_concat
    push rax
    pop rdx
    pop rcx
    call kv_concat
    push rax
    mov rax, [dbl_1]
    push rax
    lea rax, [str_2]
    push rax
    pop rbx
    pop rcx
    movq xmm0, rcx
    call kv_dbl_to_str
    mov rcx, rax
    mov rdx, rbx
    call kv_concat
    push rax
    pop rdx
    pop rcx
    call kv_streq
    push rax
    lea rax, [str_3]
    push rax
    lea rax, [str_4]
    push rax
    pop rdx
    pop rcx
    call kv_streq
    xor rax, 1
    push rax
    lea rax, [str_3]
    push rax
    mov rax, 1
    push rax
    pop rbx
    pop rax
    cmp rax, rbx
    sete al
    movzx eax, al
    push rax
    mov rax, 2
    push rax
    pop rcx
    call kv_int_to_str
    push rax
    mov rax, [dbl_2]
    push rax
    pop rax
    movq xmm0, rax
    call kv_dbl_to_str
    push rax
    lea rax, [str_5]
    push rax
    mov rcx, [rsp+40]
    call kv_print_int
    lea rcx, [str_6]
    call kv_print_str
    mov rcx, [rsp+32]
    call kv_print_int
    lea rcx, [str_6]
    call kv_print_str
    mov rcx, [rsp+24]
    call kv_print_int
    lea rcx, [str_6]
    call kv_print_str
    mov rcx, [rsp+16]
    call kv_print_str
    lea rcx, [str_6]
    call kv_print_str
    mov rcx, [rsp+8]
    call kv_print_str
    lea rcx, [str_6]
    call kv_print_str
    mov rcx, [rsp+0]
    call kv_print_str
    lea rcx, [str_nl]
    call kv_print_str
    add rsp, 48
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
gc_env_mode: db "KAVEL_GC",0
gc_env_max: db "KAVEL_HEAP_MAX",0
gc_word_stress: db "stress",0
gc_word_off: db "off",0
gc_word_stats: db "stats",0
gc_msg_mode: db "runtime error: KAVEL_GC must be stress, off or stats",0
gc_msg_max: db "runtime error: KAVEL_HEAP_MAX must be a number of bytes, with an optional K, M or G",0
gc_txt_head: db "gc: ",0
gc_txt_count: db " collections, ",0
gc_txt_alloc: db " bytes allocated, peak live ",0
gc_txt_peak: db " bytes, longest pause ",0
gc_txt_pause: db " us",0
gc_class_size: dq 16,32,48,64,80,96,112,128,160,192,224,256,320,384,448,512,640,768,896,1024,1280,1536,1792,2048,2560,3072,3584,4096,5120,6144,7168,8192
str_0: db "n=",0
str_1: db "!",0
str_2: db "x",0
str_3: db "a",0
str_4: db "b",0
str_5: db "s",0
str_6: db " ",0
str_7: db "{",0
str_8: db ", ",0
str_9: db "}",0
str_10: db "runtime error: division by zero",0
str_11: db "runtime error: index out of bounds",0
str_12: db "runtime error: pop() on empty list",0
str_13: db "runtime error: text is not a number",0
str_14: db "runtime error: out of memory",0
str_15: db "runtime error: cannot open file",0
str_16: db "runtime error: map key not found",0
str_17: db "runtime error: stack overflow",0
str_18: db "runtime error: invalid memory access",0
dbl_0: dq 1.5
dbl_1: dq 0.5
dbl_2: dq 2.5
section .bss
fault_stack: resb 65536
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
gc_base: resq 1
gc_top: resq 1
gc_commit: resq 1
gc_limit: resq 1
gc_pages: resq 1
gc_marks: resq 1
gc_stack_base: resq 1
gc_mode: resq 1
gc_stats: resq 1
gc_try: resq 1
gc_free: resq 32
gc_partial: resq 32
gc_runs: resq 1
gc_allocated: resq 1
gc_trigger: resq 1
gc_live: resq 1
gc_count: resq 1
gc_peak: resq 1
gc_pause: resq 1
gc_freq: resq 1
gc_overflow: resq 1
in_buf: resq 1
in_cap: resq 1
in_len: resq 1
in_pos: resq 1
fault_taken: resq 1
bss_end:
