; Console: reading a line of standard input, and writing texts, integers and lists to
; standard output and standard error. The writers never allocate, so an error exit can
; still report that the heap is full.

; ---- kv_readline
; One line of standard input: a single read of at most 255 bytes, with its trailing CR and
; LF bytes removed.
; in:      nothing
; out:     rax = a new text (in a 256-byte block)
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
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

; ---- kv_print_str
; Writes a text to standard output, with no line end. A number taken to be a text (see
; kv_is_text) is written as its decimal digits.
; in:      rcx = text
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none; it never allocates
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
; Writes a text to standard error, with no line end, as kv_print_str does. The error exits
; print through it, so it never allocates.
; in:      rcx = text
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
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
; Writes a list to standard output as "{", the elements joined by ", ", and "}", with no
; line end.
; in:      rcx = list, dl = not 0 when the elements are texts, 0 when they are integers
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
; entry:   kv_print_list.body is the body both list printers share, entered by a jump with
;          rbx, rsi, rdi and r12 pushed and r12 picking the stream: 0 standard output, 1
;          standard error
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
    mov rax, [rsi+KV_LIST_DATA]
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
; Writes a list to standard error, as kv_print_list does.
; in:      rcx = list, dl = not 0 when the elements are texts, 0 when they are integers
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  none
kv_print_list_err:
    push rbx
    push rsi
    push rdi
    push r12
    mov r12d, 1
    jmp kv_print_list.body
