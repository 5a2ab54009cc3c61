; The runtime library, written into every module after the program's own routines.
; Comment lines (first non-blank ";") and blank lines are left out of the module; no line
; carries a trailing comment. Labels stand flush
; left, instructions are indented by four blanks. @@text@@ stands for the string-pool label
; of that text literal; the code generator interns it where the text uses it.
; The seven error exits (kv_div0 ... kv_nokey) follow this text; the code generator
; writes them from one template.

; ---- kv_alloc
kv_alloc:
    add rcx, 15
    and rcx, -16
    mov rax, [heap_cur]
    lea r10, [rax+rcx]
    cmp r10, [heap_end]
    ja kv_oom
    mov [heap_cur], r10
    ret

; ---- kv_strlen
; bytes up to the first 0, eight at a time once the address is aligned (an aligned
; quad word never crosses a page); only rax and the flags change for the caller
kv_strlen:
    push rcx
    push rdx
    push r8
    mov rax, rcx
.head:
    test al, 7
    jz .words
    cmp byte [rax], 0
    je .found
    inc rax
    jmp .head
.words:
    mov r8, 0x0101010101010101
.lsl: mov rdx, [rax]
    mov rcx, rdx
    sub rdx, r8
    not rcx
    and rdx, rcx
    mov rcx, 0x8080808080808080
    test rdx, rcx
    jnz .tail
    add rax, 8
    jmp .lsl
.tail:
    cmp byte [rax], 0
    je .found
    inc rax
    jmp .tail
.found:
    pop r8
    pop rdx
    pop rcx
    sub rax, rcx
    ret

; ---- kv_concat
kv_concat:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    mov r12, rcx
    mov r13, rdx
; A number among the operands (see kv_is_text) joins as its decimal text; two numbers add.
    call kv_is_text
    sbb esi, esi
    mov rcx, r13
    call kv_is_text
    sbb edi, edi
    mov eax, esi
    and eax, edi
    jnz .sum
    test esi, esi
    jz .right
    mov rcx, r12
    call kv_int_to_str
    mov r12, rax
.right:
    test edi, edi
    jz .join
    mov rcx, r13
    call kv_int_to_str
    mov r13, rax
.join:
    mov rcx, r12
    call kv_strlen
    mov rbx, rax
    mov rcx, r13
    call kv_strlen
    mov rdi, rax
    lea rcx, [rbx+rdi+1]
    call kv_alloc
    mov rdx, rax
    mov r8, rdi
    mov rdi, rax
    mov rsi, r12
    mov rcx, rbx
    rep movsb
    mov rsi, r13
    mov rcx, r8
    rep movsb
    mov byte [rdi], 0
    mov rax, rdx
.done:
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret
.sum:
    lea rax, [r12+r13]
    jmp .done

; ---- kv_streq
kv_streq:
; A number among the operands (see kv_is_text) equals only the same number.
    call kv_is_text
    jc .numbers
    xchg rcx, rdx
    call kv_is_text
    jc .numbers
.bytes:
    xor r9d, r9d
.loop:
    movzx eax, byte [rcx+r9]
    cmp al, [rdx+r9]
    jne .differ
    test eax, eax
    jz .same
    inc r9
    jmp .loop
.differ:
    xor eax, eax
    ret
.same:
    mov eax, 1
    ret
.numbers:
    xor eax, eax
    cmp rcx, rdx
    sete al
    ret

; ---- kv_int_to_str
; The decimal digits go backwards into numbuf, ending before the 0 byte at numbuf+30;
; .digits leaves their first byte in r9 and changes only rax, rdx, r8, r9, r11 and the flags.
; The two integer printers call it too, so they print without allocating.
kv_int_to_str:
    push rsi
    push rdi
    call .digits
    mov rsi, r9
    lea rdi, [numbuf+31]
    sub rdi, r9
    mov rcx, rdi
    call kv_alloc
    mov rcx, rdi
    mov rdi, rax
    rep movsb
    pop rdi
    pop rsi
    ret
.digits:
    mov rax, rcx
    lea r9, [numbuf+30]
    mov byte [r9], 0
    xor r11d, r11d
    test rax, rax
    jns .unsigned
    neg rax
    mov r11d, 1
.unsigned:
    mov r8d, 10
.next:
    xor edx, edx
    div r8
    add dl, 48
    dec r9
    mov [r9], dl
    test rax, rax
    jnz .next
    test r11d, r11d
    jz .done
    dec r9
    mov byte [r9], 45
.done:
    ret

; ---- kv_frac6_to_str
kv_frac6_to_str:
    mov r11, rcx
    mov ecx, 7
    call kv_alloc
    mov byte [rax+6], 0
    mov r9, rax
    mov rax, r11
    mov r8d, 10
    mov r11d, 5
.next:
    xor edx, edx
    div r8
    add dl, 48
    mov [r9+r11], dl
    dec r11
    jns .next
    mov rax, r9
    ret

; ---- kv_rtrim_zeros
kv_rtrim_zeros:
    call kv_strlen
.trim:
    test rax, rax
    jz .cut
    cmp byte [rcx+rax-1], 48
    jne .cut
    dec rax
    jmp .trim
.cut:
    mov r8, rax
    xor edx, edx
    jmp kv_substr

; ---- kv_dbl_to_str
kv_dbl_to_str:
    push rbx
    push rsi
    push rdi
    push r12
    ucomisd xmm0, xmm0
    jp .nan
    xor ebx, ebx
    pxor xmm1, xmm1
    comisd xmm0, xmm1
    jae .positive
    mov ebx, 1
    subsd xmm1, xmm0
    movapd xmm0, xmm1
.positive:
    movq rax, xmm0
    btr rax, 63
    mov rcx, 0x7FF0000000000000
    cmp rax, rcx
    jae .inf
    movapd xmm2, xmm0
    mulsd xmm0, [dbl_scale]
    mov rax, 0x43E0000000000000
    movq xmm1, rax
    comisd xmm0, xmm1
    jae .big
    cvtsd2si rax, xmm0
    mov r8d, 1000000
    cqo
    idiv r8
    jmp .parts
.big:
    comisd xmm2, xmm1
    jae .huge
    cvttsd2si rax, xmm2
    cvtsi2sd xmm1, rax
    subsd xmm2, xmm1
    mulsd xmm2, [dbl_scale]
    cvtsd2si rdx, xmm2
    cmp rdx, 1000000
    jb .parts
    inc rax
    xor edx, edx
.parts:
    mov r12, rdx
    mov rcx, rax
    call kv_int_to_str
    mov rsi, rax
    mov rcx, r12
    call kv_frac6_to_str
    mov rcx, rax
    call kv_rtrim_zeros
    cmp byte [rax], 0
    je .sign
    lea rcx, [str_dot]
    mov rdx, rax
    call kv_concat
    mov rcx, rsi
    mov rdx, rax
    call kv_concat
    mov rsi, rax
.sign:
    mov rax, rsi
    test ebx, ebx
    jz .done
    lea rcx, [str_minus]
    mov rdx, rsi
    call kv_concat
.done:
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret
.nan:
    mov ecx, 4
    call kv_alloc
    mov dword [rax], 0x006E616E
    jmp .done
.inf:
    mov ecx, 4
    call kv_alloc
    mov dword [rax], 0x00666E69
    mov rsi, rax
    jmp .sign
.huge:
    movq rax, xmm2
    mov rdi, rax
    shr rdi, 52
    sub rdi, 1075
    mov rcx, 0x000FFFFFFFFFFFFF
    and rax, rcx
    bts rax, 52
    sub rsp, 320
    mov r8d, 1000000000
    xor edx, edx
    div r8
    mov [rsp], rdx
    mov [rsp+8], rax
    mov r9d, 2
.shift:
    test rdi, rdi
    jz .text
    mov ecx, 32
    cmp rdi, rcx
    cmovb rcx, rdi
    sub rdi, rcx
    xor r10d, r10d
    xor esi, esi
.limb:
    mov rax, [rsp+rsi*8]
    shl rax, cl
    add rax, r10
    xor edx, edx
    div r8
    mov [rsp+rsi*8], rdx
    mov r10, rax
    inc rsi
    cmp rsi, r9
    jb .limb
.carry:
    test r10, r10
    jz .shift
    mov rax, r10
    xor edx, edx
    div r8
    mov [rsp+r9*8], rdx
    inc r9
    mov r10, rax
    jmp .carry
.text:
    lea rcx, [r9+r9*8+1]
    call kv_alloc
    mov rdi, rax
    lea r11, [r9+r9*8]
    mov byte [rdi+r11], 0
    xor esi, esi
    mov r10d, 10
.group:
    mov rax, [rsp+rsi*8]
    mov ecx, 9
.digit:
    xor edx, edx
    div r10
    add dl, 48
    dec r11
    mov [rdi+r11], dl
    dec ecx
    jnz .digit
    inc rsi
    cmp rsi, r9
    jb .group
    add rsp, 320
.lead:
    cmp byte [rdi], 48
    jne .leaddone
    inc rdi
    jmp .lead
.leaddone:
    mov rsi, rdi
    jmp .sign

; ---- kv_str_to_float
kv_str_to_float:
    xor eax, eax
    xor r9d, r9d
    xor r10d, r10d
    xor r11d, r11d
    cmp byte [rcx], 45
    jne .scan
    mov r9d, 1
    inc rcx
.scan:
    movzx edx, byte [rcx]
    test edx, edx
    jz .convert
    inc rcx
    cmp edx, 46
    jne .digit
    mov r10d, 1
    jmp .scan
.digit:
    sub edx, 48
    cmp edx, 9
    ja kv_badnum
    imul rax, rax, 10
    add rax, rdx
    add r11, r10
    jmp .scan
.convert:
    cvtsi2sd xmm0, rax
    movsd xmm1, [dbl_ten]
.scale:
    test r11, r11
    jz .sign
    divsd xmm0, xmm1
    dec r11
    jmp .scale
.sign:
    test r9d, r9d
    jz .done
    pxor xmm1, xmm1
    subsd xmm1, xmm0
    movapd xmm0, xmm1
.done:
    movq rax, xmm0
    ret

; ---- kv_readline
kv_readline:
    push rbp
    mov rbp, rsp
    push rbx
    and rsp, -16
    sub rsp, 48
    mov ecx, 256
    call kv_alloc
    mov rbx, rax
    mov qword [written], 0
    mov rcx, [stdin_h]
    mov rdx, rbx
    mov r8d, 255
    lea r9, [written]
    mov qword [rsp+32], 0
    call ReadFile
    mov eax, [written]
    cmp eax, 255
    jbe .trim
    xor eax, eax
.trim:
    test eax, eax
    jz .close
    movzx ecx, byte [rbx+rax-1]
    cmp ecx, 13
    je .drop
    cmp ecx, 10
    jne .close
.drop:
    dec eax
    jmp .trim
.close:
    mov byte [rbx+rax], 0
    mov rax, rbx
    lea rsp, [rbp-8]
    pop rbx
    pop rbp
    ret

; ---- kv_str_to_int
kv_str_to_int:
    xor eax, eax
    xor r9d, r9d
    xor r10d, r10d
    cmp byte [rcx], 45
    jne .scan
    mov r9d, 1
    inc rcx
.scan:
    movzx edx, byte [rcx]
    test edx, edx
    jz .end
    sub edx, 48
    cmp edx, 9
    ja kv_badnum
    imul rax, rax, 10
    add rax, rdx
    mov r10d, 1
    inc rcx
    jmp .scan
.end:
    test r10d, r10d
    jz kv_badnum
    test r9d, r9d
    jz .done
    neg rax
.done:
    ret

; ---- kv_text_index
kv_text_index:
    call kv_strlen
    cmp rdx, rax
    jae kv_oob
    movzx r8d, byte [rcx+rdx]
    mov ecx, 2
    call kv_alloc
    mov [rax], r8b
    mov byte [rax+1], 0
    ret

; ---- kv_chr
kv_chr:
    mov r8, rcx
    mov ecx, 2
    call kv_alloc
    mov [rax], r8b
    mov byte [rax+1], 0
    ret

; ---- kv_clock
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

; ---- kv_substr
kv_substr:
    push rbx
    push rsi
    push rdi
    mov rsi, rcx
    call kv_strlen
    test rdx, rdx
    jns .endpos
    xor edx, edx
.endpos:
    cmp r8, rax
    jle .order
    mov r8, rax
.order:
    cmp rdx, r8
    jle .copy
    mov rdx, r8
.copy:
    mov rbx, r8
    sub rbx, rdx
    add rsi, rdx
    lea rcx, [rbx+1]
    call kv_alloc
    mov rdi, rax
    mov rcx, rbx
    rep movsb
    mov byte [rdi], 0
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_readfile
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
; a file larger than the free heap closes its handle before reporting out of memory,
; so a caught error leaves no file locked
    mov rcx, [fsize]
    add rcx, 16
    and rcx, -16
    mov rax, [heap_end]
    sub rax, [heap_cur]
    cmp rcx, rax
    ja .toobig
    mov rcx, [fsize]
    inc rcx
    call kv_alloc
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

; ---- kv_getenv
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

; ---- kv_coro_switch
kv_coro_switch:
    mov rax, [coro_current]
    mov [rax], rsp
    mov [rax+8], rbx
    mov [rax+16], rbp
    mov [rax+24], rsi
    mov [rax+32], rdi
    mov [rax+40], r12
    mov [rax+48], r13
    mov [rax+56], r14
    mov [rax+64], r15
    mov r10, [g_exc_top]
    mov [rax+80], r10
    lea r8, [g_exc_rbp]
    lea r9, [g_exc_rsp]
    lea r11, [g_exc_tgt]
    xor edx, edx
.save: mov r10, [r8+rdx*8]
    mov [rax+rdx*8+88], r10
    mov r10, [r9+rdx*8]
    mov [rax+rdx*8+600], r10
    mov r10, [r11+rdx*8]
    mov [rax+rdx*8+1112], r10
    inc edx
    cmp edx, 64
    jb .save
    mov [coro_current], rcx
    mov r10, [rcx+80]
    mov [g_exc_top], r10
    xor edx, edx
.load: mov r10, [rcx+rdx*8+88]
    mov [r8+rdx*8], r10
    mov r10, [rcx+rdx*8+600]
    mov [r9+rdx*8], r10
    mov r10, [rcx+rdx*8+1112]
    mov [r11+rdx*8], r10
    inc edx
    cmp edx, 64
    jb .load
    mov rsp, [rcx]
    mov rbx, [rcx+8]
    mov rbp, [rcx+16]
    mov rsi, [rcx+24]
    mov rdi, [rcx+32]
    mov r12, [rcx+40]
    mov r13, [rcx+48]
    mov r14, [rcx+56]
    mov r15, [rcx+64]
    ret

; ---- kv_coro_spawn
kv_coro_spawn:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    and rsp, -16
    sub rsp, 32
    mov rbx, rcx
    mov ecx, 1624
    call kv_alloc
    mov rsi, rax
    mov ecx, 65536
    call kv_alloc
; the function's address sits on top of the new stack; above it, the address of
; kv_coro_finish, so a spawned function that returns normally ends its coroutine
    lea r10, [rax+65520]
    mov [r10], rbx
    lea r11, [kv_coro_finish]
    mov [r10+8], r11
    mov [rsi], r10
    xor ecx, ecx
.clear: mov qword [rsi+rcx*8+8], 0
    inc ecx
    cmp ecx, 10
    jb .clear
; the first whole page inside the stack block becomes a no-access page: a coroutine that
; overruns its stack stops there instead of writing over its own context and older blocks
    lea rcx, [rax+4095]
    and rcx, -4096
    mov edx, 4096
    mov r8d, 0x1000
    mov r9d, 1
    call VirtualAlloc
    mov rcx, [coro_ready]
    test rcx, rcx
    jnz .queue
    mov ecx, 8
    call kv_list_new
    mov [coro_ready], rax
    mov rcx, rax
.queue: mov rdx, rsi
    call kv_list_push
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_coro_yield
kv_coro_yield:
; outside a running coroutine there is no scheduler to go back to: a yield does nothing
    mov rcx, [sched_ctx]
    cmp rcx, [coro_current]
    jne kv_coro_switch
    ret

; ---- kv_coro_finish
kv_coro_finish:
; outside a running coroutine the function that called this returns normally instead,
; with its result still in rax
    mov rcx, [sched_ctx]
    mov r10, [coro_current]
    cmp r10, rcx
    je .plain
    mov qword [r10+72], 1
    jmp kv_coro_switch
.plain: mov rsp, rbp
    pop rbp
    ret

; ---- kv_run_coroutines
kv_run_coroutines:
; called inside a coroutine it returns at once: the running scheduler picks up what is ready
    mov rax, [coro_current]
    test rax, rax
    jz .start
    cmp rax, [sched_ctx]
    jne .nested
.start: push rbx
    mov ecx, 1624
    call kv_alloc
    mov qword [rax+72], 0
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
    cmp qword [rbx+72], 1
    je .next
    mov rcx, [coro_ready]
    mov rdx, rbx
    call kv_list_push
    jmp .next
.done: pop rbx
.nested: ret

; ---- kv_writefile
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

; ---- kv_list_new
kv_list_new:
    push rbx
    mov rbx, rcx
    test rbx, rbx
    jnz .limit
    mov ebx, 1
.limit:
    mov rax, 0x10000000
    cmp rbx, rax
    jae kv_oom
    mov ecx, 24
    call kv_alloc
    mov r8, rax
    lea rcx, [rbx*8]
    call kv_alloc
    mov qword [r8], 0
    mov [r8+8], rbx
    mov [r8+16], rax
    mov rax, r8
    pop rbx
    ret

; ---- kv_list_push
kv_list_push:
    push rbx
    push rsi
    push rdi
    mov rbx, rcx
    mov rsi, rdx
    mov rax, [rbx]
    cmp rax, [rbx+8]
    jb .store
    mov rdi, [rbx+8]
    add rdi, rdi
    jnz .limit
    mov edi, 4
.limit:
    mov rax, 0x10000000
    cmp rdi, rax
    jae kv_oom
    lea rcx, [rdi*8]
    call kv_alloc
    mov r8, [rbx+16]
    mov r9, [rbx]
    xor r11d, r11d
.move:
    cmp r11, r9
    jae .moved
    mov r10, [r8+r11*8]
    mov [rax+r11*8], r10
    inc r11
    jmp .move
.moved:
    mov [rbx+16], rax
    mov [rbx+8], rdi
    mov rax, r9
.store:
    mov rcx, [rbx+16]
    mov [rcx+rax*8], rsi
    inc rax
    mov [rbx], rax
    mov rax, rbx
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_list_get
kv_list_get:
    cmp rdx, [rcx]
    jae kv_oob
    mov rax, [rcx+16]
    mov rax, [rax+rdx*8]
    ret

; ---- kv_list_set
kv_list_set:
    cmp rdx, [rcx]
    jae kv_oob
    mov rax, [rcx+16]
    mov [rax+rdx*8], r8
    ret

; ---- kv_list_pop
kv_list_pop:
    mov rax, [rcx]
    test rax, rax
    jz kv_empty
    dec rax
    mov [rcx], rax
    mov rdx, [rcx+16]
    mov rax, [rdx+rax*8]
    ret

; ---- kv_init_argv
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

; ---- kv_exc_push
kv_exc_push:
; the arrays hold 64 handlers: one more is refused as out of memory, which the
; innermost registered handler catches
    mov rax, [g_exc_top]
    cmp rax, 64
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
kv_exc_pop:
    mov rax, [g_exc_top]
    test rax, rax
    jz .none
    dec rax
    mov [g_exc_top], rax
.none: ret

; ---- kv_sock_listen
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
    mov rcx, rbx
    mov edx, 8
    call listen
    mov rax, rbx
    lea rsp, [rbp-16]
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_sock_accept
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

; ---- kv_map_new
kv_map_new:
    push rbx
    push rsi
    mov ebx, ecx
    cmp rbx, 4
    jae .alloc
    mov ebx, 4
.alloc:
    mov ecx, 32
    call kv_alloc
    mov rsi, rax
    lea rcx, [rbx*8]
    call kv_alloc
    mov [rsi+16], rax
    lea rcx, [rbx*8]
    call kv_alloc
    mov [rsi+24], rax
    mov qword [rsi], 0
    mov [rsi+8], rbx
    mov rax, rsi
    pop rsi
    pop rbx
    ret

; ---- kv_map_find
kv_map_find:
    push rbx
    push rsi
    push rdi
    mov rbx, rcx
    mov rsi, rdx
; A number as the key (see kv_is_text) stands for its decimal text, so every key kept is a
; text and the search compares bytes only.
    mov rcx, rdx
    call kv_is_text
    jnc .search
    call kv_int_to_str
    mov rsi, rax
.search:
    xor edi, edi
.loop:
    cmp rdi, [rbx]
    jae .absent
    mov rax, [rbx+16]
    mov rcx, [rax+rdi*8]
    mov rdx, rsi
    call kv_streq.bytes
    test eax, eax
    jnz .found
    inc rdi
    jmp .loop
.absent:
    mov rax, -1
    jmp .done
.found:
    mov rax, rdi
.done:
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_map_set
kv_map_set:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    mov rbx, rcx
    mov rsi, rdx
    mov rdi, r8
; The key kept is a text: a number stands for its decimal text, as in kv_map_find.
    mov rcx, rdx
    call kv_is_text
    jnc .key
    call kv_int_to_str
    mov rsi, rax
.key:
    mov rcx, rbx
    mov rdx, rsi
    call kv_map_find
    test rax, rax
    js .insert
    mov rcx, [rbx+24]
    mov [rcx+rax*8], rdi
    jmp .done
.insert:
    mov rax, [rbx]
    cmp rax, [rbx+8]
    jb .append
    mov r12, [rbx+8]
    add r12, r12
    jnz .limit
    mov r12d, 4
.limit:
    mov rax, 0x10000000
    cmp r12, rax
    jae kv_oom
    lea rcx, [r12*8]
    call kv_alloc
    mov r13, rax
    lea rcx, [r12*8]
    call kv_alloc
    mov r8, [rbx+16]
    mov r9, [rbx+24]
    xor r11d, r11d
.move:
    cmp r11, [rbx]
    jae .moved
    mov r10, [r8+r11*8]
    mov [r13+r11*8], r10
    mov r10, [r9+r11*8]
    mov [rax+r11*8], r10
    inc r11
    jmp .move
.moved:
    mov [rbx+16], r13
    mov [rbx+24], rax
    mov [rbx+8], r12
.append:
    mov rax, [rbx]
    mov rcx, [rbx+16]
    mov [rcx+rax*8], rsi
    mov rcx, [rbx+24]
    mov [rcx+rax*8], rdi
    inc rax
    mov [rbx], rax
.done:
    mov rax, rbx
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_map_get
kv_map_get:
    push rbx
    mov rbx, rcx
    call kv_map_find
    test rax, rax
    js kv_nokey
    mov rcx, [rbx+24]
    mov rax, [rcx+rax*8]
    pop rbx
    ret

; ---- kv_map_has
kv_map_has:
    call kv_map_find
    test rax, rax
    setns al
    movzx eax, al
    ret

; ---- kv_map_keys
kv_map_keys:
    push rbx
    push rsi
    push rdi
    mov rbx, rcx
    mov ecx, 4
    call kv_list_new
    mov rsi, rax
    xor edi, edi
.loop:
    cmp rdi, [rbx]
    jae .done
    mov rax, [rbx+16]
    mov rdx, [rax+rdi*8]
    mov rcx, rsi
    call kv_list_push
    inc rdi
    jmp .loop
.done:
    mov rax, rsi
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_is_text
; A value taken to be a text may be a number: lists carry no element type, so the elements
; of a list that reached a function as a `list` parameter, or came back from a `-> list`
; function, are taken to be texts. Every text lives in the heap or in the program's image
; (literals, fixed buffers), so a value that points into neither is a number.
; Carry set: not a text. Only rax, r8 and the flags change.
kv_is_text:
    mov rax, [heap_end]
    cmp rcx, [heap_cur]
    jae .image
    sub rax, 67108864
    cmp rcx, rax
    jae .text
.image:
; The image base comes from the process block, the image size from its PE header.
    mov rax, [gs:0x60]
    mov rax, [rax+16]
    cmp rcx, rax
    jb .number
    mov r8d, [rax+60]
    mov r8d, [rax+r8+80]
    add r8, rax
    cmp rcx, r8
    jae .number
.text:
    clc
    ret
.number:
    stc
    ret

; ---- kv_join_int
; "+" of an integer and a value taken to be a text (rcx left, rdx right; r8d 0 when the
; integer is on the left, 1 when on the right). A text gets the integer's decimal text on
; the integer's side; a number (see kv_is_text) is added to the integer.
kv_join_int:
    push rbx
    push rsi
    push rdi
    mov rsi, rcx
    mov rdi, rdx
    mov ebx, r8d
    test ebx, ebx
    cmovz rcx, rdx
    call kv_is_text
    jc .sum
    mov rcx, rdi
    test ebx, ebx
    cmovz rcx, rsi
    call kv_int_to_str
    mov rcx, rsi
    mov rdx, rdi
    test ebx, ebx
    cmovz rcx, rax
    cmovnz rdx, rax
    call kv_concat
    jmp .done
.sum:
    lea rax, [rsi+rdi]
.done:
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_print_str
kv_print_str:
    call kv_is_text
    jc kv_print_int
    push rbp
    mov rbp, rsp
    and rsp, -16
    sub rsp, 48
    call kv_strlen
    mov r8, rax
    mov rdx, rcx
    mov rcx, [stdout_h]
    lea r9, [written]
    mov qword [rsp+32], 0
    call WriteFile
    mov rsp, rbp
    pop rbp
    ret

; ---- kv_print_err
kv_print_err:
    call kv_is_text
    jc kv_print_int_err
    push rbp
    mov rbp, rsp
    and rsp, -16
    sub rsp, 48
    call kv_strlen
    mov r8, rax
    mov rdx, rcx
    mov rcx, [stderr_h]
    lea r9, [written]
    mov qword [rsp+32], 0
    call WriteFile
    mov rsp, rbp
    pop rbp
    ret

; ---- kv_print_int
kv_print_int:
    call kv_int_to_str.digits
    mov rcx, r9
    jmp kv_print_str

; ---- kv_print_int_err
kv_print_int_err:
    call kv_int_to_str.digits
    mov rcx, r9
    jmp kv_print_err

; ---- kv_print_list
; Both list printers share one body; r12 picks the stream: 0 standard output, 1 error.
kv_print_list:
    push rbx
    push rsi
    push rdi
    push r12
    xor r12d, r12d
.body:
    movzx ebx, dl
    mov rsi, rcx
    lea rcx, [@@{@@]
    call .text
    xor edi, edi
.loop:
    cmp rdi, [rsi]
    jae .close
    test rdi, rdi
    jz .item
    lea rcx, [@@, @@]
    call .text
.item:
    mov rax, [rsi+16]
    mov rcx, [rax+rdi*8]
    test ebx, ebx
    jz .number
    call .text
    jmp .after
.number:
    call .int
.after:
    inc rdi
    jmp .loop
.close:
    lea rcx, [@@}@@]
    call .text
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret
.text:
    test r12d, r12d
    jnz kv_print_err
    jmp kv_print_str
.int:
    test r12d, r12d
    jnz kv_print_int_err
    jmp kv_print_int

; ---- kv_print_list_err
kv_print_list_err:
    push rbx
    push rsi
    push rdi
    push r12
    mov r12d, 1
    jmp kv_print_list.body
