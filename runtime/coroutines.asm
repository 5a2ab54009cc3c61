; Exception handlers and coroutines. The handler stack is g_exc_top and the three arrays
; g_exc_rbp, g_exc_rsp and g_exc_tgt of KV_HANDLER_LIMIT slots. A coroutine context is
; KV_CORO_CONTEXT bytes: the saved stack pointer at offset 0 (addressed as [reg]), the
; saved preserved registers, the finished flag and a copy of the whole handler stack, so
; every coroutine has handlers of its own.

; ---- kv_exc_push
; Registers an exception handler for the calling frame: its rbp, its stack pointer once
; this call has returned, and the handler's address. The arrays hold KV_HANDLER_LIMIT
; handlers: one more is refused as out of memory, which the innermost registered handler
; catches.
; in:      rcx = handler address
; out:     nothing
; changes: rax, r10, r11, flags
; errors:  kv_oom when KV_HANDLER_LIMIT handlers are active
kv_exc_push:
    mov rax, [g_exc_top]
    cmp rax, KV_HANDLER_LIMIT
    jae kv_oom
    lea r10, [g_exc_rbp]
    mov [r10+rax*8], rbp
    lea r10, [rsp+8]
    lea r11, [g_exc_rsp]
    mov [r11+rax*8], r10
    lea r11, [g_exc_tgt]
    mov [r11+rax*8], rcx
    inc rax
    mov [g_exc_top], rax
    ret

; ---- kv_exc_pop
; Removes the innermost handler; with none active it does nothing.
; in:      nothing
; out:     nothing
; changes: rax, flags
; errors:  none
kv_exc_pop:
    mov rax, [g_exc_top]
    test rax, rax
    jz .none
    dec rax
    mov [g_exc_top], rax
.none: ret

; ---- kv_coro_switch
; Switches contexts: stores rsp, rbx, rbp, rsi, rdi, r12-r15 and the whole handler stack in
; the context at coro_current, makes the target current, loads its handler stack and its
; registers and returns on its stack: after its own last call of kv_coro_switch, or, for a
; coroutine that has not run yet, into its function. xmm registers are not saved:
; generated code keeps no values in them across calls.
; in:      rcx = context to resume
; out:     returns when something switches back, with rcx = this context
; changes: rax, rdx, r8-r11, flags
; errors:  none
; entry:   called, or jumped to by kv_coro_yield and kv_coro_finish in place of their own
;          return
kv_coro_switch:
    mov rax, [coro_current]
    mov [rax], rsp
    mov [rax+KV_CORO_RBX], rbx
    mov [rax+KV_CORO_RBP], rbp
    mov [rax+KV_CORO_RSI], rsi
    mov [rax+KV_CORO_RDI], rdi
    mov [rax+KV_CORO_R12], r12
    mov [rax+KV_CORO_R13], r13
    mov [rax+KV_CORO_R14], r14
    mov [rax+KV_CORO_R15], r15
    mov r10, [g_exc_top]
    mov [rax+KV_CORO_EXC_TOP], r10
    lea r8, [g_exc_rbp]
    lea r9, [g_exc_rsp]
    lea r11, [g_exc_tgt]
    xor edx, edx
.save: mov r10, [r8+rdx*8]
    mov [rax+rdx*8+KV_CORO_EXC_RBP], r10
    mov r10, [r9+rdx*8]
    mov [rax+rdx*8+KV_CORO_EXC_RSP], r10
    mov r10, [r11+rdx*8]
    mov [rax+rdx*8+KV_CORO_EXC_TGT], r10
    inc edx
    cmp edx, KV_HANDLER_LIMIT
    jb .save
    mov [coro_current], rcx
    mov r10, [rcx+KV_CORO_EXC_TOP]
    mov [g_exc_top], r10
    xor edx, edx
.load: mov r10, [rcx+rdx*8+KV_CORO_EXC_RBP]
    mov [r8+rdx*8], r10
    mov r10, [rcx+rdx*8+KV_CORO_EXC_RSP]
    mov [r9+rdx*8], r10
    mov r10, [rcx+rdx*8+KV_CORO_EXC_TGT]
    mov [r11+rdx*8], r10
    inc edx
    cmp edx, KV_HANDLER_LIMIT
    jb .load
    mov rsp, [rcx]
    mov rbx, [rcx+KV_CORO_RBX]
    mov rbp, [rcx+KV_CORO_RBP]
    mov rsi, [rcx+KV_CORO_RSI]
    mov rdi, [rcx+KV_CORO_RDI]
    mov r12, [rcx+KV_CORO_R12]
    mov r13, [rcx+KV_CORO_R13]
    mov r14, [rcx+KV_CORO_R14]
    mov r15, [rcx+KV_CORO_R15]
    ret

; ---- kv_coro_spawn
; Creates a coroutine for a function and appends its context to coro_ready (made with room
; for 8 by the first spawn). The function gets a stack of KV_CORO_STACK bytes of its own
; and no arguments. The context and the stack are blocks of their own kinds, so that the
; collector scans the stack's used part while the coroutine has not finished. The low end
; of the stack is a no-access page and, KV_CORO_GUARD above it, a guard page, so an overrun
; ends the program as a stack overflow.
; in:      rcx = function address
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_coro_spawn:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 32
    mov rbx, rcx
    mov ecx, KV_CORO_CONTEXT
    mov edx, KV_GC_CONTEXT
    call kv_alloc_kind
    mov rsi, rax
    mov ecx, KV_CORO_STACK
    mov edx, KV_GC_STACK
    call kv_alloc_kind
; the function's address sits on top of the new stack; above it, the address of
; kv_coro_finish, so a spawned function that returns normally ends its coroutine
    lea r10, [rax+KV_CORO_STACK_TOP]
    mov [r10], rbx
    lea r11, [kv_coro_finish]
    mov [r10+8], r11
    mov [rsi], r10
; the ten slots from the saved rbx to the saved handler depth start at 0: no handlers
    xor ecx, ecx
.clear: mov qword [rsi+rcx*8+KV_CORO_RBX], 0
    inc ecx
    cmp ecx, 10
    jb .clear
; the first whole page inside the stack block (the block starts a page) becomes a
; no-access page: a coroutine that overruns its stack stops there instead of writing over
; other blocks; the collector never scans a stack block whole, and frees it as ordinary
; memory again
    lea rcx, [rax+4095]
    and rcx, -4096
    mov edx, 4096
    mov r8d, 0x1000
    mov r9d, 1
    call VirtualAlloc
; KV_CORO_GUARD above it, a guard page: the first touch of it is reported to kv_fault as
; a stack overflow, while the writable page under it holds what Windows writes then
    mov rcx, [rsi]
    sub rcx, KV_CORO_STACK_TOP - KV_PAGE + 1
    and rcx, -KV_PAGE
    add rcx, KV_CORO_GUARD
    mov edx, KV_PAGE
    mov r8d, 0x1000
    mov r9d, 0x104
    call VirtualAlloc
    mov rcx, [coro_ready]
    test rcx, rcx
    jnz .queue
    mov ecx, 8
    call kv_list_new
    mov [coro_ready], rax
    mov rcx, rax
.queue: mov rdx, rsi
    xor r8d, r8d
    call kv_list_push
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_coro_yield
; Hands control to the scheduler; returns when the scheduler resumes this coroutine.
; Outside a running coroutine there is no scheduler to go back to: a yield does nothing.
; in:      nothing
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  none
kv_coro_yield:
    mov rcx, [sched_ctx]
    cmp rcx, [coro_current]
    jne kv_coro_switch
    ret

; ---- kv_coro_finish
; Ends the running coroutine: marks it finished and switches to the scheduler, which never
; resumes it. Outside a running coroutine the function that called this returns normally
; instead, with its result still in rax.
; entry:   called in place of a function's return, with the function's frame in rbp; also
;          the return address under a spawned function's own
; in:      rax = the function's result
; out:     does not return to its caller
; changes: rcx, r10, flags
; errors:  none
kv_coro_finish:
    mov rcx, [sched_ctx]
    mov r10, [coro_current]
    cmp r10, rcx
    je .plain
    mov qword [r10+KV_CORO_FINISHED], 1
    jmp kv_coro_switch
.plain: mov rsp, rbp
    pop rbp
    ret

; ---- kv_run_coroutines
; The scheduler: with a new context of its own, it switches to the most recently added
; ready coroutine, puts it back when it yields and drops it when it finishes, until none is
; ready. Called inside a coroutine it returns at once: the running scheduler picks up what
; is ready.
; in:      nothing
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, flags, and xmm0-xmm5 as the coroutines left them
; errors:  kv_oom for the scheduler's context
kv_run_coroutines:
    mov rax, [coro_current]
    test rax, rax
    jz .start
    cmp rax, [sched_ctx]
    jne .nested
.start: push rbx
    mov ecx, KV_CORO_CONTEXT
    mov edx, KV_GC_CONTEXT
    call kv_alloc_kind
    mov qword [rax+KV_CORO_FINISHED], 0
    mov [sched_ctx], rax
    mov [coro_current], rax
.next: mov rcx, [coro_ready]
    test rcx, rcx
    jz .done
    cmp qword [rcx], 0
    je .done
    call kv_list_pop
    mov rbx, rax
    mov rcx, rax
    call kv_coro_switch
    cmp qword [rbx+KV_CORO_FINISHED], 1
    je .next
    mov rcx, [coro_ready]
    mov rdx, rbx
    xor r8d, r8d
    call kv_list_push
    jmp .next
.done: pop rbx
.nested: ret
