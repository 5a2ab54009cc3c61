; Console: reading a line of standard input, and writing values to standard output and
; standard error. The writers of texts and integers never allocate, so an error exit can
; still report that the heap is full.

; ---- kv_readline
; One line of standard input, of any length, without its line end: the bytes up to the
; next LF, less the CR bytes right before it; at the end of the input, what is left
; without an LF, then the empty text. Reads go through the input buffer: in_buf (a heap
; block of in_cap bytes, made by the first call, twice as large whenever a line fills
; it), of which the bytes from in_pos up to in_len are read but not yet returned, so what
; a read brings beyond the line waits for the next call. A console delivers a line a
; read; a pipe or a file whatever is there.
; in:      nothing
; out:     rax = a new text
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_readline:
    push rbp
    mov rbp, rsp
    push rbx
    push rsi
    push rdi
    and rsp, -16
    sub rsp, 48
    mov rbx, [in_buf]
    test rbx, rbx
    jnz .held
    mov ecx, KV_INPUT_CHUNK
    call kv_alloc
    mov rbx, rax
    mov [in_buf], rax
    mov qword [in_cap], KV_INPUT_CHUNK
; rsi runs over the held bytes looking for the LF
.held:
    mov rsi, [in_pos]
.scan:
    cmp rsi, [in_len]
    jae .more
    cmp byte [rbx+rsi], 10
    je .line
    inc rsi
    jmp .scan
; no LF yet: the held bytes move to the front of the buffer, or of one twice as large
; when they fill it, and a read appends to them
.more:
    mov r8, [in_len]
    sub r8, [in_pos]
    mov rdi, rbx
    cmp r8, [in_cap]
    jb .move
    lea rcx, [r8+r8]
    call kv_alloc
    mov rdi, rax
    mov [in_buf], rax
    shl qword [in_cap], 1
.move:
    mov rcx, [in_pos]
    xor edx, edx
.front:
    cmp rdx, r8
    jae .moved
    mov al, [rbx+rcx]
    mov [rdi+rdx], al
    inc rcx
    inc rdx
    jmp .front
.moved:
    mov rbx, rdi
    mov [in_len], r8
    mov qword [in_pos], 0
    mov rsi, r8
.read:
    mov qword [written], 0
    mov rcx, [stdin_h]
    lea rdx, [rbx+rsi]
    mov r8, [in_cap]
    sub r8, rsi
    lea r9, [written]
    mov qword [rsp+32], 0
    call ReadFile
    mov eax, [written]
    mov rcx, [in_cap]
    sub rcx, rsi
    cmp rax, rcx
    ja .end
    test rax, rax
    jz .end
    add [in_len], rax
    jmp .scan
; the end of the input (or a failed read): the held bytes are the last line
.end:
    mov rsi, [in_len]
    mov rdi, rsi
    jmp .cut
.line:
    lea rdi, [rsi+1]
; the line is the bytes from in_pos up to rsi, less its trailing CR bytes; the next one
; starts at rdi
.cut:
    mov rdx, [in_pos]
    mov [in_pos], rdi
.trim:
    cmp rsi, rdx
    jbe .copy
    cmp byte [rbx+rsi-1], 13
    jne .copy
    dec rsi
    jmp .trim
.copy:
    mov rdi, rdx
    mov rcx, rsi
    sub rcx, rdi
    inc rcx
    call kv_alloc
    mov rcx, rax
.byte:
    cmp rdi, rsi
    jae .close
    mov dl, [rbx+rdi]
    mov [rcx], dl
    inc rdi
    inc rcx
    jmp .byte
.close:
    mov byte [rcx], 0
    lea rsp, [rbp-24]
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret

; ---- kv_print_str
; Writes a text to standard output, with no line end.
; in:      rcx = text
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none; it never allocates
kv_print_str:
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
; Writes a text to standard error, with no line end, as kv_print_str does. The error exits
; print through it, so it never allocates.
; in:      rcx = text
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_print_err:
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
; Writes an integer's decimal text to standard output, with no line end, without
; allocating (the digits are built in numbuf).
; in:      rcx = integer
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_print_int:
    call kv_int_to_str.digits
    mov rcx, r9
    jmp kv_print_str

; ---- kv_print_int_err
; Writes an integer's decimal text to standard error, as kv_print_int does.
; in:      rcx = integer
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_print_int_err:
    call kv_int_to_str.digits
    mov rcx, r9
    jmp kv_print_err

; ---- kv_print_list
; Writes a list to standard output as "{", its elements joined by ", ", and "}", with no
; line end; each element as kv_print_value writes a value of its kind. A list met again
; inside itself, or nested deeper than KV_LIST_NESTING, is written "{...}".
; in:      rcx = list
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom (for a float's text)
; entry:   kv_print_list.body is the body both list printers share, entered by a jump with
;          rbx, rsi, rdi, r12 and r13 pushed, r12 picking the stream (0 standard output,
;          1 standard error) and r13 the chain of lists being written (0 at the top, else
;          the address of a pair: the enclosing chain, the enclosing list)
kv_print_list:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    xor r12d, r12d
    xor r13d, r13d
.body:
    mov rsi, rcx
    mov rdx, r13
    call kv_list_in_chain
    jc .cut
    push rsi
    push r13
    mov r13, rsp
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
    mov rax, [rsi+KV_LIST_DATA]
    mov rcx, [rax+rdi*8]
    mov rdx, [rax-KV_SLOT_KINDS]
    movzx edx, byte [rdx+rdi]
    cmp edx, KV_KIND_LIST
    jne .scalar
    call .nested
    jmp .after
.scalar:
    call kv_print_value.scalar
.after:
    inc rdi
    jmp .loop
.close:
    lea rcx, [@@}@@]
    call .text
    pop r13
    add rsp, 8
.done:
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret
.cut:
    lea rcx, [@@{@@]
    call .text
    mov ebx, 3
.dots:
    lea rcx, [str_dot]
    call .text
    dec ebx
    jnz .dots
    lea rcx, [@@}@@]
    call .text
    jmp .done
.nested:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    jmp .body
.text:
    test r12d, r12d
    jnz kv_print_err
    jmp kv_print_str

; ---- kv_print_list_err
; Writes a list to standard error, as kv_print_list does.
; in:      rcx = list
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom (for a float's text)
kv_print_list_err:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    mov r12d, 1
    xor r13d, r13d
    jmp kv_print_list.body

; ---- kv_print_value
; Writes a value of a kind to standard output, as kvlog writes it: a text as it is, a float
; as kv_dbl_to_str gives it, a list as kv_print_list does, and anything else (an integer,
; a bool, none, a map or a record, whose value is its address) in decimal.
; in:      rcx = value, rdx = its kind
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom (for a float's text)
; entry:   kv_print_value.scalar writes a value that is not a list to the stream r12 picks
;          (0 standard output, 1 standard error)
kv_print_value:
    cmp edx, KV_KIND_LIST
    je kv_print_list
    push r12
    xor r12d, r12d
    call .scalar
    pop r12
    ret
.scalar:
    cmp edx, KV_KIND_TEXT
    je .text
    cmp edx, KV_KIND_FLOAT
    jne .int
    movq xmm0, rcx
    call kv_dbl_to_str
    mov rcx, rax
.text:
    test r12d, r12d
    jnz kv_print_err
    jmp kv_print_str
.int:
    test r12d, r12d
    jnz kv_print_int_err
    jmp kv_print_int

; ---- kv_print_value_err
; Writes a value of a kind to standard error, as kv_print_value does.
; in:      rcx = value, rdx = its kind
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom (for a float's text)
kv_print_value_err:
    cmp edx, KV_KIND_LIST
    je kv_print_list_err
    push r12
    mov r12d, 1
    call kv_print_value.scalar
    pop r12
    ret
