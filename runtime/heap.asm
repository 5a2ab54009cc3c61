; The heap: one range of address space reserved at start-up and committed in steps as it
; fills, up to a limit (KAVEL_HEAP_MAX, else the machine's physical memory). Its first
; page is the zero page: every request for 0 bytes gets its address and nothing is ever
; written there. The other pages are cut into spans. A small span is KV_SPAN_PAGES pages of
; blocks of one size class (KV_CLASSES classes, 16 to KV_SMALL_MAX bytes); a large span is
; the pages of one larger block. Blocks are never moved.
;
; Beside the heap lies the page map, one record of KV_PAGE_RECORD bytes per page: the span
; the page belongs to, its block size, the end of its last whole block and the reciprocal
; that turns an offset into a block number, so the start of the block that holds any
; address is computed, never searched; and two bitmaps of one bit per 16 bytes, set at the
; start of each block in use (allocation) and of each block found reachable (mark). After
; the page map lies the collector's mark stack.
;
; Free blocks of a class wait on its free list, linked through their first word and zero
; apart from it; the spans of a class that have free blocks wait on the class's list. Free
; pages form runs, listed in address order. heap_cur and heap_end both stay at the zero
; page: kv_alloc's bump region is always empty, so every request for bytes reaches
; kv_alloc_block, which keeps the allocation map.

; ---- kv_heap_init
; Sets the heap up at start-up. Reads KAVEL_GC (stress, off or stats) and KAVEL_HEAP_MAX
; (bytes, with an optional K, M or G; the default is the machine's physical memory, at
; most KV_HEAP_DEFAULT_MAX, or KV_HEAP_FALLBACK when Windows does not tell it), rounds the
; limit up to whole spans, reserves the heap, its page map and the mark stack (a
; reservation Windows refuses is asked for again at half the size, down to KV_HEAP_LEAST)
; and commits the first step.
; The main stack's base is kv_start's frame: the program's code only uses the stack below.
; in:      nothing (called by kv_start)
; out:     rax = the heap's start, 0 when Windows refuses the memory
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none; a KAVEL_GC or KAVEL_HEAP_MAX it cannot read ends the program with its
;          message on standard error and exit code 1
kv_heap_init:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    push rdi
    and rsp, -16
    sub rsp, 96
    lea rax, [rbp+16]
    mov [gc_stack_base], rax
; KAVEL_GC, read into the buffer at rsp+32 (unset or empty: collect as needed)
    lea rcx, [gc_env_mode]
    lea rdx, [rsp+32]
    mov r8d, 64
    call GetEnvironmentVariableA
    mov eax, eax
    test rax, rax
    jz .limit
    cmp rax, 64
    jae .badmode
    lea rcx, [rsp+32]
    lea rdx, [gc_word_stress]
    call kv_streq
    test eax, eax
    jz .notstress
    mov qword [gc_mode], KV_GC_STRESS
    jmp .limit
.notstress:
    lea rdx, [gc_word_off]
    call kv_streq
    test eax, eax
    jz .notoff
    mov qword [gc_mode], KV_GC_OFF
    jmp .limit
.notoff:
    lea rdx, [gc_word_stats]
    call kv_streq
    test eax, eax
    jz .badmode
    mov qword [gc_stats], 1
; KAVEL_HEAP_MAX: at most 15 digits, then nothing or one of K, M, G (either case)
.limit:
    lea rcx, [gc_env_max]
    lea rdx, [rsp+32]
    mov r8d, 64
    call GetEnvironmentVariableA
    mov eax, eax
    test rax, rax
    jz .physical
    cmp rax, 64
    jae .badmax
    lea rsi, [rsp+32]
    xor ebx, ebx
    xor edi, edi
.digit:
    movzx eax, byte [rsi]
    sub eax, 48
    cmp eax, 9
    ja .suffix
    inc edi
    cmp edi, 15
    ja .badmax
    imul rbx, rbx, 10
    add rbx, rax
    inc rsi
    jmp .digit
.suffix:
    test edi, edi
    jz .badmax
    xor ecx, ecx
    movzx eax, byte [rsi]
    test eax, eax
    jz .scale
    cmp byte [rsi+1], 0
    jne .badmax
    or eax, 32
    mov ecx, 10
    cmp eax, 107
    je .scale
    mov ecx, 20
    cmp eax, 109
    je .scale
    mov ecx, 30
    cmp eax, 103
    jne .badmax
; a limit past KV_HEAP_CAP counts as KV_HEAP_CAP
.scale:
    mov rax, KV_HEAP_CAP
    shr rax, cl
    cmp rbx, rax
    jbe .shift
    mov rbx, rax
.shift:
    shl rbx, cl
    jmp .round
; MEMORYSTATUSEX: its length first, the total physical memory at byte 8
.physical:
    mov dword [rsp+32], 64
    lea rcx, [rsp+32]
    call GlobalMemoryStatusEx
    mov rbx, [rsp+40]
    test eax, eax
    jz .fallback
    test rbx, rbx
    jnz .capped
.fallback:
    mov rbx, KV_HEAP_FALLBACK
.capped:
    mov rax, KV_HEAP_DEFAULT_MAX
    cmp rbx, rax
    jbe .round
    mov rbx, rax
.round:
    add rbx, KV_SPAN-1
    and rbx, -KV_SPAN
    jnz .reserve
    mov ebx, KV_SPAN
; rsi = the zero page and the limit, rdi = their page records (1/32 of it)
.reserve:
    lea rsi, [rbx+KV_PAGE]
    mov rdi, rsi
    shr rdi, KV_PAGE_SHIFT-KV_PAGE_RECORD_SHIFT
    xor ecx, ecx
    lea rdx, [rsi+rdi+KV_MARK_BYTES]
    mov r8d, 0x2000
    mov r9d, 4
    call VirtualAlloc
    test rax, rax
    jnz .reserved
    shr rbx, 1
    and rbx, -KV_SPAN
    cmp rbx, KV_HEAP_LEAST
    jae .reserve
    xor eax, eax
    jmp .out
.reserved:
    mov [gc_base], rax
    mov [heap_cur], rax
    mov [heap_end], rax
    mov [gc_commit], rax
    lea rcx, [rax+KV_PAGE]
    mov [gc_top], rcx
    add rsi, rax
    mov [gc_limit], rsi
    mov [gc_pages], rsi
    add rsi, rdi
    mov [gc_marks], rsi
    mov rcx, rsi
    mov edx, KV_MARK_BYTES
    mov r8d, 0x1000
    mov r9d, 4
    call VirtualAlloc
    test rax, rax
    jz .out
    mov rcx, [gc_top]
    call kv_heap_commit
    test rax, rax
    jz .out
    mov qword [gc_trigger], KV_GC_MIN
    cmp qword [gc_stats], 0
    je .ready
    lea rcx, [gc_freq]
    call QueryPerformanceFrequency
.ready:
    mov rax, [gc_base]
.out:
    lea rsp, [rbp-24]
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret
.badmode:
    lea rcx, [gc_msg_mode]
    jmp .fatal
.badmax:
    lea rcx, [gc_msg_max]
.fatal:
    call kv_print_err
    lea rcx, [str_nl]
    call kv_print_err
    mov ecx, 1
    call ExitProcess

; ---- kv_alloc_block
; Where kv_alloc's "ja" leads: its bump region is always empty, so this is the allocator.
; A small request takes the first block of its class's free list, which is zero but for
; its link; an empty list, or a large request, goes to kv_heap_cold.
; entry:   by kv_alloc's "ja", with the size rounded up to a multiple of 16, never 0
; in:      rcx = bytes
; out:     rax = a block of at least that many bytes, 16-byte aligned, all zero
; changes: rax, rcx, r10, flags (what kv_alloc promises)
; errors:  kv_oom when the heap cannot give it, even after a collection
kv_alloc_block:
    cmp rcx, KV_SMALL_MAX
    ja .large
    add [gc_allocated], rcx
    push rdx
; the class: 16 to 128 bytes by 16, then four classes for each doubling
    cmp ecx, 128
    ja .spaced
    lea edx, [rcx-16]
    shr edx, 4
    jmp .class
.spaced:
    lea r10, [rcx-1]
    bsr rdx, r10
    lea ecx, [rdx-2]
    shr r10, cl
    lea edx, [r10+rdx*4-24]
.class:
    lea r10, [gc_free]
    mov rax, [r10+rdx*8]
    test rax, rax
    jz .fill
    mov rcx, [rax]
    mov [r10+rdx*8], rcx
    mov qword [rax], 0
    pop rdx
    ret
.fill:
    mov rcx, rdx
    mov rdx, -1
    call kv_heap_cold
    pop rdx
    ret
.large:
    push rdx
    mov edx, KV_GC_PLAIN
    call kv_heap_cold
    pop rdx
    ret

; ---- kv_alloc_kind
; A block in pages of its own, of a kind the collector must know: a coroutine context (it
; is scanned, and so is the used part of its stack) or a coroutine stack (never scanned
; whole: its first page is made a guard page).
; in:      rcx = bytes, rdx = KV_GC_PLAIN, KV_GC_CONTEXT or KV_GC_STACK
; out:     rax = the block, page-aligned, all zero
; changes: rax, rcx, r10, flags
; errors:  kv_oom when the heap cannot give it, even after a collection
kv_alloc_kind:
    add rcx, 15
    and rcx, -16
    jmp kv_heap_cold

; ---- kv_alloc_try
; As kv_alloc, except that a request the heap cannot give, even after a collection, gives
; 0 instead of raising out of memory, so that the caller can let go of what it holds first.
; in:      rcx = bytes
; out:     rax = the block, or 0
; changes: rax, rcx, r10, flags
; errors:  none
kv_alloc_try:
    mov qword [gc_try], 1
    call kv_alloc
    mov qword [gc_try], 0
    ret

; ---- kv_heap_cold
; The allocator's slow part, apart from kv_alloc_block so that its common case stays
; short. Saves every register kv_alloc promises to keep (xmm0-xmm5 too: Windows may be
; called), then fills the class's free list and takes its first block, or makes a large
; block. The saved registers lie on the stack above the collector's frame, so it finds
; every pointer kv_alloc's callers hold in them.
; in:      rdx = -1 and rcx = size class for a small block; rdx = its kind and rcx = bytes
;          (a multiple of 16) for a large one
; out:     rax = the block; 0 under kv_alloc_try when the heap cannot give it
; changes: rax, rcx, r10, flags
; errors:  kv_oom when the heap cannot give it, even after a collection
kv_heap_cold:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    push rdi
    push rdx
    push r8
    push r9
    push r11
    push r12
    push r13
    push r14
    push r15
    sub rsp, 96
    movdqu [rsp], xmm0
    movdqu [rsp+16], xmm1
    movdqu [rsp+32], xmm2
    movdqu [rsp+48], xmm3
    movdqu [rsp+64], xmm4
    movdqu [rsp+80], xmm5
    and rsp, -16
    sub rsp, 32
    test rdx, rdx
    js .small
    call kv_heap_big
    jmp .made
.small:
    call kv_heap_fill
.made:
    test rax, rax
    jnz .done
    cmp qword [gc_try], 0
    je kv_oom
.done:
    lea rsp, [rbp-184]
    movdqu xmm0, [rsp]
    movdqu xmm1, [rsp+16]
    movdqu xmm2, [rsp+32]
    movdqu xmm3, [rsp+48]
    movdqu xmm4, [rsp+64]
    movdqu xmm5, [rsp+80]
    add rsp, 96
    pop r15
    pop r14
    pop r13
    pop r12
    pop r11
    pop r9
    pop r8
    pop rdx
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_heap_fill
; Fills a class's empty free list and takes its first block. Collects first when the
; bytes allocated since the last collection reach the trigger (every time under
; KAVEL_GC=stress, never under off). Then threads the free blocks of one span of the class
; (its allocation bit clear) in address order, each cleared and marked in use: the first
; span of the class's list, else a new span. When the heap has no room for a new span, it
; collects and tries again, once. Under stress it threads one block only, so that the next
; allocation collects again.
; in:      rcx = size class
; out:     rax = the block, taken off the list; 0 when no span can be had
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_heap_fill:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    push r14
    push r15
    mov r12, rcx
    lea rax, [gc_class_size]
    mov r13, [rax+r12*8]
; r14 = 1 once this fill has collected
    xor r14d, r14d
    cmp qword [gc_mode], KV_GC_OFF
    je .span
    cmp qword [gc_mode], KV_GC_STRESS
    je .collect
    mov rax, [gc_allocated]
    cmp rax, [gc_trigger]
    jb .span
.collect:
    call kv_gc_collect
    mov r14d, 1
; rsi = the page record of the span to thread, taken off its class's list
.span:
    lea rax, [gc_partial]
    mov rcx, [rax+r12*8]
    test rcx, rcx
    jz .new
    mov rsi, rcx
    shl rsi, KV_PAGE_RECORD_SHIFT
    add rsi, [gc_pages]
    mov rcx, [rsi+KV_PG_NEXT]
    mov [rax+r12*8], rcx
    jmp .thread
.new:
    mov ecx, KV_SPAN_PAGES
    call kv_heap_pages
    test rax, rax
    jnz .made
    test r14d, r14d
    jnz .none
    cmp qword [gc_mode], KV_GC_OFF
    jne .collect
.none:
    xor eax, eax
    jmp .out
; a new span: 2^32 / size, rounded up, finds a block from an address
.made:
    mov rbx, rax
    mov rax, 0x100000000
    lea rax, [rax+r13-1]
    xor edx, edx
    div r13
    mov r9, rax
    mov rcx, rbx
    mov edx, KV_SPAN_PAGES
    mov r8, r13
    call kv_heap_span
    mov rsi, rdx
    mov [rsi+KV_PG_CLASS], r12
; rdi walks the blocks up to rbx; r15 is the word that gets the next block's address
.thread:
    mov rdi, [rsi+KV_PG_SPAN]
    mov rbx, [rsi+KV_PG_LIMIT]
    lea r15, [gc_free]
    lea r15, [r15+r12*8]
.block:
    cmp rdi, rbx
    jae .threaded
    mov rcx, rdi
    call kv_gc_bit
    mov r8, [rax]
    bts r8, rdx
    jc .next
    mov [rax], r8
    mov [r15], rdi
    mov r15, rdi
    mov r8, rdi
    mov rcx, r13
    shr rcx, 3
    xor eax, eax
    rep stosq
    mov rdi, r8
    cmp qword [gc_mode], KV_GC_STRESS
    je .threaded
.next:
    add rdi, r13
    jmp .block
; a span without a free block (its list was wrong) is left aside: the next is tried
.threaded:
    mov qword [r15], 0
    lea rcx, [gc_free]
    mov rax, [rcx+r12*8]
    test rax, rax
    jz .span
    mov rdx, [rax]
    mov [rcx+r12*8], rdx
    mov qword [rax], 0
.out:
    pop r15
    pop r14
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_heap_big
; A block in pages of its own. Collects first when the trigger is reached (every time
; under KAVEL_GC=stress, never under off), takes the first free run long enough, else
; pages past the top; when the heap has no room it collects and tries again, once. Pages
; used before are cleared; fresh ones are zero already.
; in:      rcx = bytes (a multiple of 16), rdx = its kind
; out:     rax = the block, 0 when the heap cannot give it
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_heap_big:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    push r14
    mov rbx, rcx
    mov r12, rdx
; more than the whole heap never fits (and would overflow the count of pages)
    mov rax, [gc_limit]
    sub rax, [gc_base]
    cmp rbx, rax
    ja .none
    lea rdi, [rbx+KV_PAGE-1]
    shr rdi, KV_PAGE_SHIFT
    xor r14d, r14d
    cmp qword [gc_mode], KV_GC_OFF
    je .pages
    cmp qword [gc_mode], KV_GC_STRESS
    je .collect
    mov rax, [gc_allocated]
    cmp rax, [gc_trigger]
    jb .pages
.collect:
    call kv_gc_collect
    mov r14d, 1
.pages:
    mov rcx, rdi
    call kv_heap_pages
    test rax, rax
    jnz .got
    test r14d, r14d
    jnz .none
    cmp qword [gc_mode], KV_GC_OFF
    jne .collect
.none:
    xor eax, eax
    jmp .out
.got:
    add [gc_allocated], rbx
    mov r13, rdx
    mov rcx, rax
    mov rdx, rdi
    mov r8, rbx
    xor r9d, r9d
    call kv_heap_span
    mov [rdx+KV_PG_KIND], r12
    or qword [rdx+KV_PG_ALLOC], 1
    test r13, r13
    jz .out
    mov rsi, rax
    mov rdi, rax
    mov rcx, rbx
    shr rcx, 3
    xor eax, eax
    rep stosq
    mov rax, rsi
.out:
    pop r14
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_heap_span
; Writes the page records of a new span: each page gets the span's start, its block size,
; the end of its last whole block and its reciprocal; the first page its length, and it is
; on no list. The bitmaps are clear already: free pages keep them clear.
; in:      rcx = first page, rdx = pages, r8 = block size, r9 = 2^32 / size rounded up for a
;          small span (as many blocks as KV_SPAN bytes hold), 0 for a single block
; out:     rax = the span's start, rdx = its first page record
; changes: rax, rcx, rdx, r10, r11, flags
; errors:  none
kv_heap_span:
    push rbx
    mov rbx, rdx
    mov r10, rcx
    shl r10, KV_PAGE_RECORD_SHIFT
    add r10, [gc_pages]
    mov r11, r8
    test r9, r9
    jz .limit
    mov eax, KV_SPAN
    xor edx, edx
    div r8
    imul rax, r8
    mov r11, rax
.limit:
    mov rax, rcx
    shl rax, KV_PAGE_SHIFT
    add rax, [gc_base]
    add r11, rax
    mov [r10+KV_PG_PAGES], rbx
    mov qword [r10+KV_PG_NEXT], 0
    mov qword [r10+KV_PG_KIND], KV_GC_PLAIN
    mov rcx, r10
.record:
    mov [rcx+KV_PG_SPAN], rax
    mov [rcx+KV_PG_SIZE], r8
    mov [rcx+KV_PG_LIMIT], r11
    mov [rcx+KV_PG_MAGIC], r9
    add rcx, KV_PAGE_RECORD
    dec rbx
    jnz .record
    mov rdx, r10
    pop rbx
    ret

; ---- kv_heap_pages
; Pages for a new span: the first free run long enough (what it does not need stays a run
; at its place in the list), else pages past the top, committed as needed.
; in:      rcx = number of pages
; out:     rax = first page, 0 when the heap has no room; rdx = 1 when the pages were used
;          before (they hold old bytes), 0 when they are fresh
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_heap_pages:
    push rbx
    push rsi
    push rdi
    mov rdi, rcx
; rsi = the word that links to the run looked at
    lea rsi, [gc_runs]
.run:
    mov rax, [rsi]
    test rax, rax
    jz .top
    mov rbx, rax
    shl rbx, KV_PAGE_RECORD_SHIFT
    add rbx, [gc_pages]
    mov rcx, [rbx+KV_PG_PAGES]
    cmp rcx, rdi
    jae .take
    lea rsi, [rbx+KV_PG_NEXT]
    jmp .run
.take:
    mov rdx, [rbx+KV_PG_NEXT]
    je .whole
    sub rcx, rdi
    lea r8, [rax+rdi]
    mov r9, r8
    shl r9, KV_PAGE_RECORD_SHIFT
    add r9, [gc_pages]
    mov [r9+KV_PG_PAGES], rcx
    mov [r9+KV_PG_NEXT], rdx
    mov rdx, r8
.whole:
    mov [rsi], rdx
    mov edx, 1
    jmp .out
.top:
    mov rbx, rdi
    shl rbx, KV_PAGE_SHIFT
    add rbx, [gc_top]
    cmp rbx, [gc_limit]
    ja .none
    mov rcx, rbx
    call kv_heap_commit
    test rax, rax
    jz .none
    mov rax, [gc_top]
    mov [gc_top], rbx
    sub rax, [gc_base]
    shr rax, KV_PAGE_SHIFT
    xor edx, edx
    jmp .out
.none:
    xor eax, eax
.out:
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_heap_commit
; Commits the heap up to an address, with the page records of what it commits: a step is
; at least KV_COMMIT_STEP and a quarter of what is committed already, in whole spans, and
; never past the limit.
; in:      rcx = the address the committed heap must reach (at most gc_limit)
; out:     rax = 1, or 0 when Windows refuses
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_heap_commit:
    mov rax, [gc_commit]
    cmp rcx, rax
    ja .grow
    mov eax, 1
    ret
.grow:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 32
    mov rsi, rax
    mov rbx, rax
    sub rbx, [gc_base]
    shr rbx, 2
    cmp rbx, KV_COMMIT_STEP
    jae .step
    mov ebx, KV_COMMIT_STEP
.step:
    add rbx, rsi
    cmp rbx, rcx
    jae .whole
    mov rbx, rcx
.whole:
    add rbx, KV_SPAN-1
    and rbx, -KV_SPAN
    cmp rbx, [gc_limit]
    jbe .commit
    mov rbx, [gc_limit]
.commit:
    mov rcx, rsi
    mov rdx, rbx
    sub rdx, rsi
    mov r8d, 0x1000
    mov r9d, 4
    call VirtualAlloc
    test rax, rax
    jz .out
; a page's record lies at 1/32 of its offset in the page map
    mov rcx, rsi
    sub rcx, [gc_base]
    shr rcx, KV_PAGE_SHIFT-KV_PAGE_RECORD_SHIFT
    add rcx, [gc_pages]
    mov rdx, rbx
    sub rdx, rsi
    shr rdx, KV_PAGE_SHIFT-KV_PAGE_RECORD_SHIFT
    mov r8d, 0x1000
    mov r9d, 4
    call VirtualAlloc
    test rax, rax
    jz .out
    mov [gc_commit], rbx
    mov eax, 1
.out:
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret
