; The collector: conservative, non-moving mark and sweep. Values carry no tags, so any
; aligned word of a root or of a reachable block that points into a block in use keeps
; that block, wherever inside it points. The roots are the whole bss section (the runtime's
; cells and the program's globals: argument list, ready coroutines, handler stacks, last
; error), the running stack from the collector's own frame up to its base (kv_heap_cold has
; saved every register there), and the used part of the stack of every coroutine that has
; not finished, reached through its context. Texts and objects in the program's image lie
; outside the heap: they are never collected. The collector knows nothing of the layout of
; lists, maps or records.

; ---- kv_gc_collect
; One collection. The blocks waiting on the free lists are taken out of use (they were
; marked in use when threaded); everything reachable from the roots is marked; the rest is
; freed; the next collection comes after as many bytes again as were found live, and at
; least KV_GC_MIN. A mark stack that overflowed drops ranges: then the roots and every
; marked block are scanned again, until a round ends without an overflow. Under
; KAVEL_GC=stats the longest pause is kept.
; in:      nothing (called by the allocator, below kv_heap_cold's saved registers)
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_gc_collect:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 48
    cmp qword [gc_stats], 0
    je .unthread
    lea rcx, [rsp+32]
    call QueryPerformanceCounter
.unthread:
    xor ebx, ebx
.list:
    lea rax, [gc_free]
    mov rsi, [rax+rbx*8]
    mov qword [rax+rbx*8], 0
.unuse:
    test rsi, rsi
    jz .listed
    mov rcx, rsi
    call kv_gc_bit
    mov rcx, [rax]
    btr rcx, rdx
    mov [rax], rcx
    mov rsi, [rsi]
    jmp .unuse
.listed:
    inc ebx
    cmp ebx, KV_CLASSES
    jb .list
    mov qword [gc_overflow], 0
    call .roots
.again:
    cmp qword [gc_overflow], 0
    je .sweep
    mov qword [gc_overflow], 0
    call .roots
    call kv_gc_rescan
    jmp .again
.sweep:
    call kv_gc_sweep
    mov [gc_live], rax
    inc qword [gc_count]
    cmp rax, [gc_peak]
    jbe .trigger
    mov [gc_peak], rax
.trigger:
    cmp rax, KV_GC_MIN
    jae .after
    mov eax, KV_GC_MIN
.after:
    add rax, [gc_allocated]
    mov [gc_trigger], rax
    cmp qword [gc_stats], 0
    je .out
    lea rcx, [rsp+40]
    call QueryPerformanceCounter
    mov rax, [rsp+40]
    sub rax, [rsp+32]
    cmp rax, [gc_pause]
    jbe .out
    mov [gc_pause], rax
.out:
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret
; the bss section, then the running stack from just above this call's return address
.roots:
    lea rcx, [stdout_h]
    lea rdx, [bss_end]
    call kv_gc_mark
    lea rcx, [rsp+8+2]
    xor edx, edx
    jmp kv_gc_mark

; ---- kv_gc_mark
; Marks everything reachable from one range, with an explicit stack of ranges: never a
; native call per block, so a deep structure cannot overflow the machine stack. A range is
; scanned KV_GC_CHUNK bytes at a time, the rest pushed first. A word that points into a
; block in use that is not marked yet marks it and pushes it: a small block or a plain
; large one as its range, a coroutine context with tag 1, a coroutine stack not at all. A
; context (tag 1) is scanned, and so is its coroutine's stack from the saved stack pointer
; (tag 2), unless the coroutine has finished or is the one running. A stack pointer (tag 2)
; stands for the range up to the end of the stack block it lies in, which stays too, or,
; outside the heap, up to the main stack's base. When the mark stack is full a range is
; dropped and gc_overflow set, for the caller to scan everything again.
; in:      rcx = start of a range (+1: a context; +2: a stack pointer), rdx = its end
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  none
kv_gc_mark:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    push r14
    push r15
    mov r12, [gc_base]
    mov r13, [gc_top]
    sub r13, r12
    mov r14, [gc_pages]
    mov r15, [gc_marks]
    lea rbx, [r15+KV_MARK_BYTES]
    mov rsi, rcx
    mov rdi, rdx
    jmp .entry
.pop:
    cmp r15, [gc_marks]
    jbe .done
    sub r15, 16
    mov rsi, [r15]
    mov rdi, [r15+8]
.entry:
    test esi, 3
    jnz .tagged
.range:
    mov rax, rdi
    sub rax, rsi
    cmp rax, KV_GC_CHUNK
    jbe .word
    lea rcx, [rsi+KV_GC_CHUNK]
    mov rdx, rdi
    mov rdi, rcx
    call .push
; rax = the word less the heap's start: outside the heap unless below the top
.word:
    cmp rsi, rdi
    jae .pop
    mov rax, [rsi]
    add rsi, 8
    sub rax, r12
    cmp rax, r13
    jae .word
    mov rdx, rax
    shr rdx, KV_PAGE_SHIFT
    shl rdx, KV_PAGE_RECORD_SHIFT
    add rdx, r14
    mov rcx, [rdx+KV_PG_SPAN]
    test rcx, rcx
    jz .word
    add rax, r12
    cmp rax, [rdx+KV_PG_LIMIT]
    jae .word
    mov r8, [rdx+KV_PG_MAGIC]
    test r8, r8
    jz .block
    sub rax, rcx
    imul rax, r8
    shr rax, 32
    imul rax, [rdx+KV_PG_SIZE]
    add rcx, rax
; rcx = the block; r9 = the word of its bits, rax = the bit
.block:
    mov rax, rcx
    sub rax, r12
    mov r9, rax
    shr r9, KV_PAGE_SHIFT
    shl r9, KV_PAGE_RECORD_SHIFT
    add r9, r14
    shr rax, 4
    and eax, 255
    mov r10d, eax
    shr r10d, 6
    lea r9, [r9+r10*8]
    and eax, 63
    mov r10, [r9+KV_PG_ALLOC]
    bt r10, rax
    jnc .word
    mov r10, [r9+KV_PG_MARK]
    bts r10, rax
    jc .word
    mov [r9+KV_PG_MARK], r10
    mov rdx, [rdx+KV_PG_SIZE]
    add rdx, rcx
    test r8, r8
    jnz .found
; a large block starts its page, so r9 is its first page's record
    mov rax, [r9+KV_PG_KIND]
    cmp rax, KV_GC_STACK
    je .word
    cmp rax, KV_GC_CONTEXT
    jne .found
    inc rcx
.found:
    call .push
    jmp .word
.tagged:
    test esi, 1
    jz .stack
    and rsi, -16
    cmp qword [rsi+KV_CORO_FINISHED], 0
    jne .range
    cmp rsi, [coro_current]
    je .range
    mov rcx, [rsi]
    test rcx, rcx
    jz .range
    or rcx, 2
    xor edx, edx
    call .push
    jmp .range
; a stack pointer: in the heap, up to the end of its block; else up to the main base
.stack:
    and rsi, -8
    mov rax, rsi
    sub rax, r12
    cmp rax, r13
    jae .main
    shr rax, KV_PAGE_SHIFT
    shl rax, KV_PAGE_RECORD_SHIFT
    add rax, r14
    mov rcx, [rax+KV_PG_SPAN]
    test rcx, rcx
    jz .pop
    mov rdi, [rax+KV_PG_LIMIT]
    cmp rsi, rdi
    jae .pop
    cmp qword [rax+KV_PG_MAGIC], 0
    jne .range
    sub rcx, r12
    shr rcx, KV_PAGE_SHIFT
    shl rcx, KV_PAGE_RECORD_SHIFT
    add rcx, r14
    cmp qword [rcx+KV_PG_KIND], KV_GC_STACK
    jne .range
    test qword [rcx+KV_PG_ALLOC], 1
    jz .range
    or qword [rcx+KV_PG_MARK], 1
    jmp .range
.main:
    mov rdi, [gc_stack_base]
    cmp rsi, rdi
    jae .pop
    mov rax, rdi
    sub rax, rsi
    cmp rax, KV_MAIN_STACK_MAX
    ja .pop
    jmp .range
.done:
    pop r15
    pop r14
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret
; pushes the range rcx to rdx, or drops it when the mark stack is full
.push:
    cmp r15, rbx
    jae .full
    mov [r15], rcx
    mov [r15+8], rdx
    add r15, 16
    ret
.full:
    mov qword [gc_overflow], 1
    ret

; ---- kv_gc_rescan
; After the mark stack overflowed: scans every marked block again, contexts with their
; stacks, so that what a dropped range led to is marked too (kv_gc_mark passes over what
; is marked already).
; in:      nothing
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  none
kv_gc_rescan:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    mov esi, 1
    mov rdi, [gc_top]
    sub rdi, [gc_base]
    shr rdi, KV_PAGE_SHIFT
.page:
    cmp rsi, rdi
    jae .done
    mov rbx, rsi
    shl rbx, KV_PAGE_RECORD_SHIFT
    add rbx, [gc_pages]
    mov r12, [rbx+KV_PG_PAGES]
    test r12, r12
    jnz .known
    mov r12d, 1
.known:
    cmp qword [rbx+KV_PG_SPAN], 0
    je .next
    cmp qword [rbx+KV_PG_MAGIC], 0
    je .large
    mov r13, [rbx+KV_PG_SPAN]
.small:
    cmp r13, [rbx+KV_PG_LIMIT]
    jae .next
    mov rcx, r13
    call kv_gc_bit
    mov rax, [rax+KV_PG_MARK-KV_PG_ALLOC]
    bt rax, rdx
    jnc .skip
    mov rcx, r13
    mov rdx, r13
    add rdx, [rbx+KV_PG_SIZE]
    call kv_gc_mark
.skip:
    add r13, [rbx+KV_PG_SIZE]
    jmp .small
.large:
    test qword [rbx+KV_PG_MARK], 1
    jz .next
    mov rcx, [rbx+KV_PG_SPAN]
    mov rdx, rcx
    add rdx, [rbx+KV_PG_SIZE]
    mov rax, [rbx+KV_PG_KIND]
    cmp rax, KV_GC_STACK
    je .next
    cmp rax, KV_GC_CONTEXT
    jne .scan
    inc rcx
.scan:
    call kv_gc_mark
.next:
    add rsi, r12
    jmp .page
.done:
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_gc_sweep
; Frees what the mark left unmarked. In a small span the allocation bits become the mark
; bits; a span with no block left is freed whole, one with some free block goes on its
; class's list. A large span is freed when its block is not marked; a coroutine stack's
; guard pages are made ordinary memory again first. Free pages next to each other join into
; one run, and the runs are listed in address order. Every mark bit ends clear.
; in:      nothing
; out:     rax = bytes of the blocks that stay
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_gc_sweep:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    push r14
    push r15
    and rsp, -16
    sub rsp, 32
    lea rax, [gc_partial]
    xor ecx, ecx
.clear:
    mov qword [rax+rcx*8], 0
    inc ecx
    cmp ecx, KV_CLASSES
    jb .clear
    mov qword [gc_runs], 0
; r15 = the word that links to the next run, r12 = first page of the run being gathered
; (0: none), r13 = bytes that stay, rsi = page, rdi = the top's page, r14 = span length
    lea r15, [gc_runs]
    xor r12d, r12d
    xor r13d, r13d
    mov esi, 1
    mov rdi, [gc_top]
    sub rdi, [gc_base]
    shr rdi, KV_PAGE_SHIFT
.page:
    cmp rsi, rdi
    jae .end
    mov rbx, rsi
    shl rbx, KV_PAGE_RECORD_SHIFT
    add rbx, [gc_pages]
    mov r14, [rbx+KV_PG_PAGES]
    test r14, r14
    jnz .known
    mov r14d, 1
.known:
    cmp qword [rbx+KV_PG_SPAN], 0
    je .gather
    cmp qword [rbx+KV_PG_MAGIC], 0
    je .large
    xor eax, eax
    pxor xmm0, xmm0
    mov rcx, rbx
    mov edx, KV_SPAN_PAGES
.bits:
    mov r8, [rcx+KV_PG_ALLOC]
    and r8, [rcx+KV_PG_MARK]
    mov [rcx+KV_PG_ALLOC], r8
    popcnt r8, r8
    add rax, r8
    mov r8, [rcx+KV_PG_ALLOC+8]
    and r8, [rcx+KV_PG_MARK+8]
    mov [rcx+KV_PG_ALLOC+8], r8
    popcnt r8, r8
    add rax, r8
    mov r8, [rcx+KV_PG_ALLOC+16]
    and r8, [rcx+KV_PG_MARK+16]
    mov [rcx+KV_PG_ALLOC+16], r8
    popcnt r8, r8
    add rax, r8
    mov r8, [rcx+KV_PG_ALLOC+24]
    and r8, [rcx+KV_PG_MARK+24]
    mov [rcx+KV_PG_ALLOC+24], r8
    popcnt r8, r8
    add rax, r8
    movdqu [rcx+KV_PG_MARK], xmm0
    movdqu [rcx+KV_PG_MARK+16], xmm0
    add rcx, KV_PAGE_RECORD
    dec edx
    jnz .bits
    test rax, rax
    jz .free
    imul rax, [rbx+KV_PG_SIZE]
    add r13, rax
    call .close
    mov rcx, [rbx+KV_PG_LIMIT]
    sub rcx, [rbx+KV_PG_SPAN]
    cmp rax, rcx
    jae .next
    mov rcx, [rbx+KV_PG_CLASS]
    lea rdx, [gc_partial]
    mov r8, [rdx+rcx*8]
    mov [rbx+KV_PG_NEXT], r8
    mov [rdx+rcx*8], rsi
    jmp .next
.large:
    test qword [rbx+KV_PG_MARK], 1
    jz .dead
    mov qword [rbx+KV_PG_MARK], 0
    add r13, [rbx+KV_PG_SIZE]
    call .close
    jmp .next
.dead:
    mov qword [rbx+KV_PG_ALLOC], 0
    cmp qword [rbx+KV_PG_KIND], KV_GC_STACK
    jne .free
; its no-access page, and the guard page KV_CORO_GUARD above it if never touched,
; become ordinary memory again, with the page between them
    mov rcx, [rbx+KV_PG_SPAN]
    mov edx, KV_CORO_GUARD + KV_PAGE
    mov r8d, 0x1000
    mov r9d, 4
    call VirtualAlloc
; nothing points into a freed span's pages any more
.free:
    mov rcx, rbx
    mov rdx, r14
.unspan:
    mov qword [rcx+KV_PG_SPAN], 0
    add rcx, KV_PAGE_RECORD
    dec rdx
    jnz .unspan
.gather:
    test r12, r12
    jnz .next
    mov r12, rsi
.next:
    add rsi, r14
    jmp .page
.end:
    call .close
    mov rax, r13
    lea rsp, [rbp-56]
    pop r15
    pop r14
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret
; ends the run being gathered before page rsi and links it after the last one (keeps rax)
.close:
    test r12, r12
    jz .closed
    mov rcx, r12
    shl rcx, KV_PAGE_RECORD_SHIFT
    add rcx, [gc_pages]
    mov rdx, rsi
    sub rdx, r12
    mov [rcx+KV_PG_PAGES], rdx
    mov qword [rcx+KV_PG_NEXT], 0
    mov [r15], r12
    lea r15, [rcx+KV_PG_NEXT]
    xor r12d, r12d
.closed:
    ret

; ---- kv_gc_bit
; Where a block's allocation bit lies: the word of its page record's bitmap and the bit
; in it. Its mark bit lies at the same place of the mark bitmap, KV_PG_MARK - KV_PG_ALLOC
; bytes further.
; in:      rcx = block
; out:     rax = address of the allocation bitmap's word, rdx = bit (0 to 63)
; changes: rax, rdx, flags
; errors:  none
kv_gc_bit:
    push rcx
    mov rax, rcx
    sub rax, [gc_base]
    mov rdx, rax
    shr rax, KV_PAGE_SHIFT
    shl rax, KV_PAGE_RECORD_SHIFT
    add rax, [gc_pages]
    shr rdx, 4
    and edx, 255
    mov ecx, edx
    shr ecx, 6
    lea rax, [rax+rcx*8+KV_PG_ALLOC]
    and edx, 63
    pop rcx
    ret

; ---- kv_exit
; Ends the process. Under KAVEL_GC=stats it first writes the collector's figures to
; standard error, on one line: "gc: ", the collections made, the bytes allocated, the most
; bytes a collection found live and the longest pause in microseconds.
; in:      rcx = exit code
; out:     does not return
; changes: everything
; errors:  none; it never allocates
kv_exit:
    mov rbx, rcx
    cmp qword [gc_stats], 0
    je .exit
    lea rcx, [gc_txt_head]
    call kv_print_err
    mov rcx, [gc_count]
    call kv_print_int_err
    lea rcx, [gc_txt_count]
    call kv_print_err
    mov rcx, [gc_allocated]
    call kv_print_int_err
    lea rcx, [gc_txt_alloc]
    call kv_print_err
    mov rcx, [gc_peak]
    call kv_print_int_err
    lea rcx, [gc_txt_peak]
    call kv_print_err
    mov rax, [gc_pause]
    mov ecx, 1000000
    mul rcx
    mov rcx, [gc_freq]
    test rcx, rcx
    jz .ticks
    div rcx
.ticks:
    mov rcx, rax
    call kv_print_int_err
    lea rcx, [gc_txt_pause]
    call kv_print_err
    lea rcx, [str_nl]
    call kv_print_err
.exit:
    mov rcx, rbx
    and rsp, -16
    sub rsp, 32
    call ExitProcess
