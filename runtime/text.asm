; Texts and numbers: lengths, joining, comparing, cutting, and the conversions between
; numbers and their decimal texts. A text is its bytes up to the first 0 byte, never
; changed once made, so the texts these routines give are new heap blocks.

; ---- kv_strlen
; The length of a text: its bytes up to the first 0, read eight at a time once the address
; is aligned (an aligned quad word never crosses a page).
; in:      rcx = text
; out:     rax = length
; changes: rax, flags (only these: callers keep values in rcx, rdx and r8 across it)
; errors:  none
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
; Joins two texts into a new one. A number among the operands (see kv_is_text) joins as
; its decimal text; two numbers add.
; in:      rcx = left text, rdx = right text
; out:     rax = a new text, left then right (the sum when both are numbers)
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
kv_concat:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    mov r12, rcx
    mov r13, rdx
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
; Compares two texts byte for byte. A number among the operands (see kv_is_text) equals
; only the same number.
; in:      rcx, rdx = the two texts
; out:     rax = 1 when they are equal, else 0
; changes: rax, r8, r9, flags; rcx and rdx may come back swapped
; errors:  none
; entry:   kv_streq.bytes compares bytes only, for operands known to be texts, and changes
;          only rax, r9 and flags (kv_map_find uses it)
kv_streq:
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
; The decimal text of a signed integer, with "-" in front when it is negative.
; in:      rcx = integer
; out:     rax = a new text
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
; entry:   kv_int_to_str.digits writes the digits backwards into numbuf, ending before the
;          0 byte at numbuf+30, and leaves the address of the first in r9 without allocating
;          (so the two integer printers print without allocating); it changes only rax, rdx,
;          r8, r9, r11 and flags
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
; The six decimal digits of a fraction counted in millionths, leading zeros kept.
; in:      rcx = 0 to 999999 (a larger value gives its last six digits)
; out:     rax = a new text of six digits
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
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
; A text without its trailing "0" bytes (for the fraction digits of kv_dbl_to_str).
; in:      rcx = text
; out:     rax = a new text
; changes: rax, rcx, rdx, r8, r10, flags
; errors:  kv_oom
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
; The text of a float: the integer part, then "." and up to six fraction digits, rounded to
; the nearest millionth, without trailing zeros; "-" in front when it is negative; "nan",
; "inf" and "-inf". An integer part too large for 64 bits is written out in full.
; in:      xmm0 = float
; out:     rax = a new text
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm2, flags
; errors:  kv_oom
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
; Reads a float: an optional "-", then decimal digits and dots; every digit after the first
; dot is a fraction digit. A text with no digits reads as 0.
; in:      rcx = text
; out:     xmm0 = the float, rax = its bit pattern
; changes: rax, rcx, rdx, r9-r11, xmm0, xmm1, flags
; errors:  kv_badnum on any other byte
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

; ---- kv_str_to_int
; Reads an integer: an optional "-", then one or more decimal digits (wrapping around
; beyond 64 bits).
; in:      rcx = text
; out:     rax = integer
; changes: rax, rcx, rdx, r9, r10, flags
; errors:  kv_badnum for a text without digits or with any other byte
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
; The byte at an index of a text, as a new one-byte text.
; in:      rcx = text, rdx = index
; out:     rax = a new text
; changes: rax, rcx, r8, r10, flags
; errors:  kv_oob when the index is not below the length (compared unsigned, so a negative
;          index too); kv_oom
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
; A one-byte text holding the low eight bits of a number (0 gives the empty text).
; in:      rcx = number
; out:     rax = a new text
; changes: rax, rcx, r8, r10, flags
; errors:  kv_oom
kv_chr:
    mov r8, rcx
    mov ecx, 2
    call kv_alloc
    mov [rax], r8b
    mov byte [rax+1], 0
    ret

; ---- kv_substr
; The bytes of a text from a start up to an end (the end not included), the bounds clamped:
; a start below 0 counts as 0, an end beyond the length as the length, and a start beyond
; the end gives the empty text.
; in:      rcx = text, rdx = start, r8 = end
; out:     rax = a new text
; changes: rax, rcx, rdx, r8, r10, flags
; errors:  kv_oom
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

; ---- kv_is_text
; Tells a text from a number where the code generator cannot: lists carry no element type,
; so the elements of a list that reached a function as a `list` parameter, or came back
; from a `-> list` function, are taken to be texts. Every text lives in the heap or in the
; program's image (literals, fixed buffers), so a value that points into neither is a
; number.
; in:      rcx = value
; out:     carry clear for a text, set for a number
; changes: rax, r8, flags
; errors:  none
kv_is_text:
    cmp rcx, [gc_top]
    jae .image
    cmp rcx, [gc_base]
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
; "+" of an integer and a value taken to be a text: a text gets the integer's decimal text
; on the integer's side; a number (see kv_is_text) is added to the integer.
; in:      rcx = left, rdx = right, r8d = 0 when the integer is on the left, 1 on the right
; out:     rax = a new text, or the sum
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
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
