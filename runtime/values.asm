; Values whose kind is known only at run time: list elements, map values and values of
; type any come with their kind (KV_KIND_INT, KV_KIND_FLOAT, ...), and these routines do
; for them what the code generator's templates do for values of a known kind: convert,
; give their text form, and apply the operators.

; ---- kv_value_to_str
; The text form of a value of a kind, as it prints: a text itself, an integer (a bool,
; none, a map or a record, whose value is its address) in decimal, a float as kv_dbl_to_str
; gives it, a list as kv_list_to_str gives it.
; in:      rcx = value, rdx = its kind
; out:     rax = a text (the value itself for a text, else a new one)
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_value_to_str:
    cmp edx, KV_KIND_TEXT
    je .text
    cmp edx, KV_KIND_LIST
    je kv_list_to_str
    cmp edx, KV_KIND_FLOAT
    je .float
    jmp kv_int_to_str
.text:
    mov rax, rcx
    ret
.float:
    movq xmm0, rcx
    jmp kv_dbl_to_str

; ---- kv_list_to_str
; The text form of a list: "{", the text forms of its elements joined by ", ", and "}"; a
; list met again inside itself, or nested deeper than KV_LIST_NESTING, is "{...}".
; in:      rcx = list
; out:     rax = a new text
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
; entry:   kv_list_to_str.nested takes the chain of lists being written in r13 (the
;          address of a pair: the enclosing chain, the enclosing list), as kv_print_list
kv_list_to_str:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    xor r13d, r13d
.body:
    mov rsi, rcx
    mov rdx, r13
    call kv_list_in_chain
    jc .cut
    push rsi
    push r13
    mov r13, rsp
; the pieces first, in a list of texts, so the result is built in one block
    mov rcx, [rsi]
    call kv_list_new
    mov r12, rax
    xor edi, edi
.piece:
    cmp rdi, [rsi]
    jae .measure
    mov rax, [rsi+KV_LIST_DATA]
    mov rcx, [rax+rdi*8]
    mov rdx, [rax-KV_SLOT_KINDS]
    movzx edx, byte [rdx+rdi]
    cmp edx, KV_KIND_LIST
    jne .scalar
    call .nested
    jmp .keep
.scalar:
    call kv_value_to_str
.keep:
    mov rcx, r12
    mov rdx, rax
    mov r8d, KV_KIND_TEXT
    call kv_list_push
    inc rdi
    jmp .piece
; "{" and "}", ", " between pieces, and the pieces
.measure:
    mov rbx, [r12]
    lea rbx, [rbx*2]
    xor edi, edi
.sum:
    cmp rdi, [r12]
    jae .build
    mov rax, [r12+KV_LIST_DATA]
    mov rcx, [rax+rdi*8]
    call kv_strlen
    add rbx, rax
    inc rdi
    jmp .sum
.build:
    lea rcx, [rbx+1]
    call kv_alloc
    mov rbx, rax
    mov rdx, rax
    mov byte [rdx], 123
    inc rdx
    xor edi, edi
.copy:
    cmp rdi, [r12]
    jae .end
    test rdi, rdi
    jz .text
    mov word [rdx], 0x202C
    add rdx, 2
.text:
    mov rax, [r12+KV_LIST_DATA]
    mov rcx, [rax+rdi*8]
.byte:
    movzx eax, byte [rcx]
    test eax, eax
    jz .next
    mov [rdx], al
    inc rcx
    inc rdx
    jmp .byte
.next:
    inc rdi
    jmp .copy
.end:
    mov word [rdx], 0x007D
    mov rax, rbx
    pop r13
    add rsp, 8
    jmp .done
.cut:
    mov ecx, 6
    call kv_alloc
    mov dword [rax], 0x2E2E2E7B
    mov word [rax+4], 0x007D
.done:
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret
.nested:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    jmp .body

; ---- kv_list_in_chain
; Whether a list about to be written must be cut to "{...}": it is one of the lists it is
; written inside (a list that holds itself), or those are KV_LIST_NESTING deep already.
; Both list printers and kv_list_to_str ask it before they open a list.
; in:      rcx = list, rdx = the chain of lists being written (0 at the top, else the
;          address of a pair: the enclosing chain, the enclosing list)
; out:     carry set when the list must be cut, clear when it may be written
; changes: rax, r8, flags
; errors:  none
kv_list_in_chain:
    mov rax, rdx
    xor r8d, r8d
.next:
    test rax, rax
    jz .fresh
    cmp [rax+8], rcx
    je .cut
    inc r8d
    cmp r8d, KV_LIST_NESTING
    jae .cut
    mov rax, [rax]
    jmp .next
.fresh:
    clc
    ret
.cut:
    stc
    ret

; ---- kv_dyn_to_int
; A value of a kind, stored where an integer is declared: a float is truncated toward zero;
; any other value is kept as it is.
; in:      rcx = value, rdx = its kind
; out:     rax = the integer
; changes: rax, xmm0, flags
; errors:  none
kv_dyn_to_int:
    mov rax, rcx
    cmp edx, KV_KIND_FLOAT
    jne .done
    movq xmm0, rcx
    cvttsd2si rax, xmm0
.done:
    ret

; ---- kv_dyn_to_float
; A value of a kind, stored where a float is declared: an integer becomes a float; any
; other value is kept as it is.
; in:      rcx = value, rdx = its kind
; out:     rax = the float's bits
; changes: rax, xmm0, flags
; errors:  none
kv_dyn_to_float:
    mov rax, rcx
    cmp edx, KV_KIND_INT
    jne .done
    cvtsi2sd xmm0, rcx
    movq rax, xmm0
.done:
    ret

; ---- kv_dyn_bin
; An operator applied to two values of known kinds, as the templates apply it to values
; whose kinds the code generator knows: "+" with a text on either side joins the text
; forms; two texts compare by their bytes (unsigned); two numbers compute or compare as
; floats when either is a float, else as integers; anything else computes or compares its
; raw value as an integer (so a list equals only itself). Integer division truncates
; toward zero, the smallest integer divided by -1 wraps to itself with remainder 0.
; in:      rcx = left value, rdx = its kind, r8 = right value, r9 = its kind,
;          r10 = operator (KV_OP_ADD ... KV_OP_GE)
; out:     rax = the result, rdx = its kind (KV_KIND_INT for a comparison)
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_div0 for an integer division or remainder by 0; kv_oom (a joined text)
kv_dyn_bin:
    cmp r10, KV_OP_ADD
    jne .kinds
    cmp edx, KV_KIND_TEXT
    je .join
    cmp r9d, KV_KIND_TEXT
    je .join
.kinds:
    cmp edx, KV_KIND_FLOAT
    ja .other
    cmp r9d, KV_KIND_FLOAT
    ja .raw
    mov eax, edx
    or eax, r9d
    jnz .float
; integers
.raw:
    cmp r10, KV_OP_EQ
    jae .icompare
    mov rax, rcx
    cmp r10, KV_OP_SUB
    je .isub
    cmp r10, KV_OP_MUL
    je .imul
    cmp r10, KV_OP_DIV
    jae .idiv
    add rax, r8
    jmp .int
.isub:
    sub rax, r8
    jmp .int
.imul:
    imul rax, r8
    jmp .int
.idiv:
    test r8, r8
    jz kv_div0
    cmp r8, -1
    je .minus
    cqo
    idiv r8
    cmp r10, KV_OP_MOD
    jne .int
    mov rax, rdx
    jmp .int
.minus:
    neg rax
    cmp r10, KV_OP_MOD
    jne .int
    xor eax, eax
.int:
    mov edx, KV_KIND_INT
    ret
.icompare:
    cmp rcx, r8
    setl al
    setg dl
    sete r11b
    jmp .select
; two texts compare their bytes; any other pair of non-numbers its raw values
.other:
    cmp edx, KV_KIND_TEXT
    jne .raw
    cmp r9d, KV_KIND_TEXT
    jne .raw
    cmp r10, KV_OP_EQ
    jb .raw
    xor r11d, r11d
.tbyte:
    movzx eax, byte [rcx+r11]
    movzx edx, byte [r8+r11]
    cmp eax, edx
    jne .tdiffer
    test eax, eax
    jz .tdiffer
    inc r11
    jmp .tbyte
.tdiffer:
    setb al
    seta dl
    sete r11b
    jmp .select
; floats, an integer among them converted
.float:
    movq xmm0, rcx
    cmp edx, KV_KIND_INT
    jne .right
    cvtsi2sd xmm0, rcx
.right:
    movq xmm1, r8
    cmp r9d, KV_KIND_INT
    jne .fop
    cvtsi2sd xmm1, r8
.fop:
    cmp r10, KV_OP_EQ
    jae .fcompare
    cmp r10, KV_OP_SUB
    je .fsub
    cmp r10, KV_OP_MUL
    je .fmul
    cmp r10, KV_OP_DIV
    je .fdiv
    cmp r10, KV_OP_MOD
    je .fmod
    addsd xmm0, xmm1
    jmp .flt
.fsub:
    subsd xmm0, xmm1
    jmp .flt
.fmul:
    mulsd xmm0, xmm1
    jmp .flt
.fdiv:
    divsd xmm0, xmm1
    jmp .flt
.fmod:
    movsd xmm2, xmm0
    divsd xmm0, xmm1
    cvttsd2si rax, xmm0
    cvtsi2sd xmm0, rax
    mulsd xmm0, xmm1
    movsd xmm1, xmm0
    movsd xmm0, xmm2
    subsd xmm0, xmm1
.flt:
    movq rax, xmm0
    mov edx, KV_KIND_FLOAT
    ret
.fcompare:
    comisd xmm0, xmm1
    setb al
    seta dl
    sete r11b
; al: below, dl: above, r11b: equal, from the comparison just made (for floats, as their
; templates read the flags: an unordered pair is below and equal)
.select:
    movzx eax, al
    movzx edx, dl
    movzx r11d, r11b
    cmp r10, KV_OP_LT
    je .done
    cmp r10, KV_OP_GE
    je .flip
    cmp r10, KV_OP_GT
    je .above
    cmp r10, KV_OP_LE
    je .below_or_equal
    mov eax, r11d
    cmp r10, KV_OP_NE
    jne .done
.flip:
    xor eax, 1
    jmp .done
.above:
    mov eax, edx
    jmp .done
.below_or_equal:
    or eax, r11d
.done:
    mov edx, KV_KIND_INT
    ret
; "+" with a text: both text forms, joined
.join:
    push rsi
    push rdi
    push r12
    mov rdi, r8
    mov r12, r9
    call kv_value_to_str
    mov rsi, rax
    mov rcx, rdi
    mov rdx, r12
    call kv_value_to_str
    mov rcx, rsi
    mov rdx, rax
    call kv_concat
    mov edx, KV_KIND_TEXT
    pop r12
    pop rdi
    pop rsi
    ret

; ---- kv_dyn_neg
; The negation of a value of a kind: a float as 0.0 minus it, anything else as an integer.
; in:      rcx = value, rdx = its kind
; out:     rax = the result, rdx = its kind (the same)
; changes: rax, xmm0, xmm1, flags
; errors:  none
kv_dyn_neg:
    mov rax, rcx
    cmp edx, KV_KIND_FLOAT
    je .float
    neg rax
    ret
.float:
    movq xmm0, rcx
    pxor xmm1, xmm1
    subsd xmm1, xmm0
    movq rax, xmm1
    ret

; ---- kv_dyn_len
; The length of a value of a kind: the count of a list or a map, the bytes of a text, 0 for
; anything else.
; in:      rcx = value, rdx = its kind
; out:     rax = the length
; changes: rax, flags
; errors:  none
kv_dyn_len:
    cmp edx, KV_KIND_TEXT
    je kv_strlen
    xor eax, eax
    cmp edx, KV_KIND_LIST
    je .count
    cmp edx, KV_KIND_MAP
    jne .done
.count:
    mov rax, [rcx]
.done:
    ret

; ---- kv_dyn_index
; An element of a value of a kind: of a list, with its kind; of a text, its one-byte text.
; in:      rcx = value, rdx = its kind, r8 = index
; out:     rax = the element, rdx = its kind
; changes: rax, rcx, rdx, r8, r10, flags
; errors:  kv_oob when the index is not below the length, or the value is neither a list
;          nor a text
kv_dyn_index:
    cmp edx, KV_KIND_LIST
    je .list
    cmp edx, KV_KIND_TEXT
    jne kv_oob
    mov rdx, r8
    call kv_text_index
    mov edx, KV_KIND_TEXT
    ret
.list:
    mov rdx, r8
    jmp kv_list_get

; ---- kv_dyn_abs
; The absolute value of a value of a kind: a float loses its sign bit, an integer is
; negated when negative (the smallest integer stays as it is).
; in:      rcx = value, rdx = its kind
; out:     rax = the result, rdx = its kind (the same)
; changes: rax, flags
; errors:  none
kv_dyn_abs:
    mov rax, rcx
    cmp edx, KV_KIND_FLOAT
    je .float
    test rax, rax
    jns .done
    neg rax
.done:
    ret
.float:
    btr rax, 63
    ret

; ---- kv_dyn_pick
; The smaller (min) or the larger (max) of two values of kinds: as floats when either is a
; float (an integer converted), else as integers; on a tie the first.
; in:      rcx = first value, rdx = its kind, r8 = second value, r9 = its kind,
;          r10 = 0 for the smaller, 1 for the larger
; out:     rax = the result, rdx = its kind
; changes: rax, rcx, rdx, r8-r11, xmm0, xmm1, flags
; errors:  none
kv_dyn_pick:
    mov eax, edx
    or eax, r9d
    cmp eax, KV_KIND_FLOAT
    je .float
    mov rax, rcx
    test r10, r10
    jnz .max
    cmp rcx, r8
    cmovg rax, r8
    jmp .int
.max:
    cmp rcx, r8
    cmovl rax, r8
.int:
    mov edx, KV_KIND_INT
    ret
.float:
    movq xmm0, rcx
    test edx, edx
    jnz .second
    cvtsi2sd xmm0, rcx
.second:
    movq xmm1, r8
    test r9d, r9d
    jnz .compare
    cvtsi2sd xmm1, r8
.compare:
    movq rax, xmm0
    movq rcx, xmm1
    test r10, r10
    jnz .fmax
    comisd xmm0, xmm1
    cmova rax, rcx
    jmp .flt
.fmax:
    comisd xmm0, xmm1
    cmovb rax, rcx
.flt:
    mov edx, KV_KIND_FLOAT
    ret
