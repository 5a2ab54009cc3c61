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

; ---- kv_strnlen
; The length of a text up to a limit: its bytes up to the first 0 or the limit, whichever
; comes first, read as kv_strlen reads them, so a long text is read only as far as the
; limit.
; in:      rcx = text, rdx = limit (unsigned: a negative one counts as no limit)
; out:     rax = the smaller of the length and the limit
; changes: rax, flags (only these)
; errors:  none
kv_strnlen:
    push rcx
    push rdx
    push r8
    push r9
    mov rax, rcx
    add rdx, rcx
    jnc .head
    mov rdx, -1
.head:
    cmp rax, rdx
    jae .limit
    test al, 7
    jz .words
    cmp byte [rax], 0
    je .found
    inc rax
    jmp .head
.words:
    mov r8, 0x0101010101010101
.word:
    cmp rax, rdx
    jae .limit
    mov rcx, [rax]
    mov r9, rcx
    sub rcx, r8
    not r9
    and rcx, r9
    mov r9, 0x8080808080808080
    test rcx, r9
    jnz .tail
    add rax, 8
    jmp .word
.tail:
    cmp rax, rdx
    jae .limit
    cmp byte [rax], 0
    je .found
    inc rax
    jmp .tail
.limit:
    mov rax, rdx
.found:
    pop r9
    pop r8
    pop rdx
    pop rcx
    sub rax, rcx
    ret

; ---- kv_concat
; Joins two texts into a new one.
; in:      rcx = left text, rdx = right text
; out:     rax = a new text, left then right (a new block even when one is empty)
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
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_streq
; Compares two texts byte for byte.
; in:      rcx, rdx = the two texts
; out:     rax = 1 when they are equal, else 0
; changes: rax, r9, flags
; errors:  none
kv_streq:
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
; The byte at an index of a text, as a new one-byte text. The text is read only up to the
; index.
; in:      rcx = text, rdx = index
; out:     rax = a new text
; changes: rax, rcx, r8, r10, flags
; errors:  kv_oob when the index is not below the length (compared unsigned, so a negative
;          index too); kv_oom
kv_text_index:
    push rdx
    inc rdx
    call kv_strnlen
    pop rdx
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
; the end gives the empty text. The text is read only up to the end, never measured whole,
; so taking a piece near its start costs the piece, not the text.
; in:      rcx = text, rdx = start, r8 = end
; out:     rax = a new text
; changes: rax, rcx, rdx, r8, r10, flags
; errors:  kv_oom
kv_substr:
    push rbx
    push rsi
    push rdi
    mov rsi, rcx
    test rdx, rdx
    jns .endpos
    xor edx, edx
.endpos:
    cmp r8, rdx
    jg .measure
    mov r8, rdx
    jmp .copy
.measure:
    mov rbx, rdx
    mov rdx, r8
    call kv_strnlen
    mov r8, rax
    mov rdx, rbx
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

; ---- kv_text_needle
; Measures a needle and builds its prefix table, so that kv_text_search can be called right
; after: entry q, a 32-bit number, is the length of the longest proper prefix of the
; needle's first q + 1 bytes that is also a suffix of them. The table goes into the
; caller's buffer of KV_NEEDLE_BUFFER bytes when it fits, else into a new block, so a
; search allocates at most once, never per position it tries.
; in:      rcx = text (kept for the search), rdx = needle, r8 = buffer
; out:     r8 = the needle's length, r9 = its table (nothing is written for an empty
;          needle); rcx and rdx as they came
; changes: rax, r8-r11, flags
; errors:  kv_oom
kv_text_needle:
    push rbx
    push rcx
    mov r9, r8
    mov rcx, rdx
    call kv_strlen
    mov rbx, rax
    lea rcx, [rax*4]
    cmp rcx, KV_NEEDLE_BUFFER
    jbe .build
    call kv_alloc
    mov r9, rax
.build:
    test rbx, rbx
    jz .done
    mov dword [r9], 0
    xor r8d, r8d
    mov r11d, 1
.next:
    cmp r11, rbx
    jae .done
    movzx r10d, byte [rdx+r11]
.fall:
    test r8, r8
    jz .extend
    cmp r10b, [rdx+r8]
    je .extend
    mov r8d, [r9+r8*4-4]
    jmp .fall
.extend:
    cmp r10b, [rdx+r8]
    jne .store
    inc r8
.store:
    mov [r9+r11*4], r8d
    inc r11
    jmp .next
.done:
    mov r8, rbx
    pop rcx
    pop rbx
    ret

; ---- kv_text_search
; The next place where a needle occurs in a text, by Knuth, Morris and Pratt: the text is
; read once, byte by byte and never again, so a search costs the bytes it reads whatever
; the two texts hold (a needle "aa...ab" in a text "aa...a" included). While no byte of
; the needle matches, it runs ahead to the next byte equal to the needle's first.
; in:      rcx = where in the text to start, rdx = needle (not empty), r8 = its length,
;          r9 = its prefix table (kv_text_needle)
; out:     rax = the address where the next occurrence starts, or 0 when there is none;
;          then rcx = the address of the text's 0 byte
; changes: rax, rcx, r10, r11, flags (only these: callers keep rdx, r8 and r9 across it)
; errors:  none
kv_text_search:
    movzx r11d, byte [rdx]
.skip:
    movzx eax, byte [rcx]
    cmp eax, r11d
    je .first
    test eax, eax
    jz .none
    inc rcx
    jmp .skip
.first:
    mov r10d, 1
    inc rcx
.step:
    cmp r10, r8
    je .match
    movzx eax, byte [rcx]
    cmp al, [rdx+r10]
    jne .fall
    inc r10
    inc rcx
    jmp .step
.fall:
    test eax, eax
    jz .none
    mov r10d, [r9+r10*4-4]
    test r10, r10
    jz .skip
    jmp .step
.match:
    mov rax, rcx
    sub rax, r8
    ret
.none:
    xor eax, eax
    ret

; ---- kv_text_piece
; A new text of the bytes between two addresses in a text.
; in:      rcx = the first byte's address, rdx = the address past the last byte
; out:     rax = a new text
; changes: rax, rcx, rdx, r10, flags
; errors:  kv_oom
kv_text_piece:
    push rsi
    push rdi
    mov rsi, rcx
    sub rdx, rcx
    lea rcx, [rdx+1]
    call kv_alloc
    mov rdi, rax
    mov rcx, rdx
    rep movsb
    mov byte [rdi], 0
    pop rdi
    pop rsi
    ret

; ---- kv_text_find
; Where a needle first occurs in a text.
; in:      rcx = text, rdx = needle
; out:     rax = the position of the first occurrence, -1 when there is none, 0 for an
;          empty needle
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
kv_text_find:
    push rbx
    sub rsp, KV_NEEDLE_BUFFER
    mov rbx, rcx
    mov r8, rsp
    call kv_text_needle
    xor eax, eax
    test r8, r8
    jz .done
    call kv_text_search
    test rax, rax
    jz .none
    sub rax, rbx
    jmp .done
.none:
    mov rax, -1
.done:
    add rsp, KV_NEEDLE_BUFFER
    pop rbx
    ret

; ---- kv_text_count
; How often a needle occurs in a text, counted left to right without overlaps: the search
; goes on after each occurrence.
; in:      rcx = text, rdx = needle
; out:     rax = the count, 0 for an empty needle
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
kv_text_count:
    push rbx
    sub rsp, KV_NEEDLE_BUFFER
    mov r8, rsp
    call kv_text_needle
    xor ebx, ebx
    test r8, r8
    jz .counted
.next:
    call kv_text_search
    test rax, rax
    jz .counted
    inc rbx
    lea rcx, [rax+r8]
    jmp .next
.counted:
    mov rax, rbx
    add rsp, KV_NEEDLE_BUFFER
    pop rbx
    ret

; ---- kv_text_split
; The pieces of a text between the occurrences of a separator, found left to right without
; overlaps; the piece after the last separator always counts, so a trailing separator
; gives a last empty piece and the empty text gives one empty piece.
; in:      rcx = text, rdx = separator
; out:     rax = a new list of new texts; for an empty separator, a list of the text itself
; changes: rax, rcx, rdx, r8-r11, xmm0, flags
; errors:  kv_oom
kv_text_split:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    push r14
    sub rsp, KV_NEEDLE_BUFFER
    mov rbx, rcx
    mov rsi, rdx
    mov r8, rsp
    call kv_text_needle
    mov r12, r8
    mov r13, r9
    mov ecx, 4
    call kv_list_new
    mov rdi, rax
    test r12, r12
    jnz .pieces
    mov rcx, rdi
    mov rdx, rbx
    mov r8d, KV_KIND_TEXT
    call kv_list_push
    jmp .done
; rbx is where the next piece starts, r14 where the separator after it starts
.pieces:
    mov rcx, rbx
    mov rdx, rsi
    mov r8, r12
    mov r9, r13
    call kv_text_search
    mov r14, rax
    test rax, rax
    jnz .cut
    mov r14, rcx
.cut:
    mov rcx, rbx
    mov rdx, r14
    call kv_text_piece
    mov rcx, rdi
    mov rdx, rax
    mov r8d, KV_KIND_TEXT
    call kv_list_push
    cmp byte [r14], 0
    je .done
    lea rbx, [r14+r12]
    jmp .pieces
.done:
    mov rax, rdi
    add rsp, KV_NEEDLE_BUFFER
    pop r14
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_text_replace
; A text with every occurrence of one text, found left to right without overlaps, replaced
; by another. The occurrences are counted first, so the result is made in one block of
; its final size.
; in:      rcx = text, rdx = the text to replace, r8 = its replacement
; out:     rax = a new text; the text itself when the text to replace is empty
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
kv_text_replace:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    push r14
    push r15
    sub rsp, KV_NEEDLE_BUFFER+8
    mov rbx, rcx
    mov [rsp], rdx
    mov r14, r8
    lea r8, [rsp+8]
    call kv_text_needle
    mov r12, r8
    mov r13, r9
    mov rax, rbx
    test r12, r12
    jz .done
; count the occurrences; the last search ends at the text's 0 byte
    xor esi, esi
.count:
    call kv_text_search
    test rax, rax
    jz .counted
    inc rsi
    lea rcx, [rax+r8]
    jmp .count
.counted:
    mov rdi, rcx
    mov rcx, r14
    call kv_strlen
    mov r15, rax
    sub rax, r12
    imul rax, rsi
    lea rcx, [rdi+rax+1]
    sub rcx, rbx
    call kv_alloc
    mov rdi, rax
    mov rsi, rax
; copy the bytes before each occurrence, then the replacement; rbx is where the next run
; of kept bytes starts, and the result's address waits on the stack
    push rax
.copy:
    mov rcx, rbx
    mov rdx, [rsp+8]
    mov r8, r12
    mov r9, r13
    call kv_text_search
    test rax, rax
    jz .tail
    mov rsi, rbx
    mov rcx, rax
    sub rcx, rbx
    rep movsb
    lea rbx, [rax+r12]
    mov rsi, r14
    mov rcx, r15
    rep movsb
    jmp .copy
.tail:
    mov rsi, rbx
    sub rcx, rbx
    rep movsb
    mov byte [rdi], 0
    pop rax
.done:
    add rsp, KV_NEEDLE_BUFFER+8
    pop r15
    pop r14
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_text_join
; The text forms of a list's elements (a text itself, any other value as it prints) with a
; separator between them, made in one block of its final size: the lengths are summed
; first. Elements that are not texts are turned into texts first, in an array of their
; own, so the list is never changed.
; in:      rcx = list, rdx = separator
; out:     rax = a new text; the empty text for an empty list
; changes: rax, rcx, rdx, r8-r11, xmm0-xmm5, flags
; errors:  kv_oom
kv_text_join:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    push r14
    mov rbx, rcx
    mov r12, rdx
    mov r13, [rbx]
    mov r14, [rbx+KV_LIST_DATA]
    mov rax, [r14-KV_SLOT_KINDS]
    xor esi, esi
.kind:
    cmp rsi, r13
    jae .measure
    cmp byte [rax+rsi], KV_KIND_TEXT
    jne .convert
    inc rsi
    jmp .kind
; r14 becomes an array of the elements' text forms
.convert:
    lea rcx, [r13*8]
    call kv_alloc
    mov rdi, rax
    xor esi, esi
.form:
    cmp rsi, r13
    jae .formed
    mov rax, [rbx+KV_LIST_DATA]
    mov rcx, [rax+rsi*8]
    mov rdx, [rax-KV_SLOT_KINDS]
    movzx edx, byte [rdx+rsi]
    call kv_value_to_str
    mov [rdi+rsi*8], rax
    inc rsi
    jmp .form
.formed:
    mov r14, rdi
; the separator's length times count - 1, plus every element's
.measure:
    mov rcx, r12
    call kv_strlen
    lea rbx, [r13-1]
    imul rbx, rax
    test r13, r13
    jnz .sum
    xor ebx, ebx
.sum:
    xor esi, esi
.add:
    cmp rsi, r13
    jae .build
    mov rcx, [r14+rsi*8]
    call kv_strlen
    add rbx, rax
    inc rsi
    jmp .add
.build:
    lea rcx, [rbx+1]
    call kv_alloc
    mov rbx, rax
    mov rdx, rax
    xor esi, esi
.element:
    cmp rsi, r13
    jae .end
    test rsi, rsi
    jz .text
    mov rcx, r12
    call kv_text_put
.text:
    mov rcx, [r14+rsi*8]
    call kv_text_put
    inc rsi
    jmp .element
.end:
    mov byte [rdx], 0
    mov rax, rbx
    pop r14
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_text_put
; Copies a text's bytes, without its 0 byte, to where a text is being built.
; in:      rcx = text, rdx = where its first byte goes
; out:     rdx = the address past the last byte copied
; changes: rax, rcx, rdx, flags
; errors:  none
kv_text_put:
.byte:
    movzx eax, byte [rcx]
    test eax, eax
    jz .done
    mov [rdx], al
    inc rcx
    inc rdx
    jmp .byte
.done:
    ret

; ---- kv_text_compare
; The byte-wise order of two texts: bytes compared as numbers 0 to 255 up to the first
; difference, a text that is a proper prefix of the other sorting first.
; in:      rcx, rdx = the two texts
; out:     rax = -1 when the first sorts before the second, 1 when after, 0 when equal
; changes: rax, r9, r10, flags
; errors:  none
kv_text_compare:
    xor r9d, r9d
.loop:
    movzx eax, byte [rcx+r9]
    movzx r10d, byte [rdx+r9]
    cmp eax, r10d
    jne .differ
    test eax, eax
    jz .done
    inc r9
    jmp .loop
.differ:
    sbb rax, rax
    or rax, 1
.done:
    ret

; ---- kv_text_map
; A text with bytes exchanged through a table: each byte of the text that occurs in the
; first set becomes the byte at the same position of the second (for a byte that occurs
; in the first set more than once, its last position counts); bytes of the first set past
; the end of the second, and all other bytes, stay as they are.
; in:      rcx = text, rdx = the bytes to exchange, r8 = what they become
; out:     rax = a new text of the same length
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
kv_text_map:
    push rbx
    push rsi
    push rdi
    sub rsp, 256
    mov rsi, rcx
    xor eax, eax
.identity:
    mov [rsp+rax], al
    inc eax
    cmp eax, 256
    jb .identity
.pair:
    movzx eax, byte [rdx]
    movzx r9d, byte [r8]
    test eax, eax
    jz .mapped
    test r9d, r9d
    jz .mapped
    mov [rsp+rax], r9b
    inc rdx
    inc r8
    jmp .pair
.mapped:
    mov rcx, rsi
    call kv_strlen
    mov rbx, rax
    lea rcx, [rax+1]
    call kv_alloc
    mov rdi, rax
    xor ecx, ecx
    xor edx, edx
.byte:
    cmp rcx, rbx
    jae .end
    mov dl, [rsi+rcx]
    mov dl, [rsp+rdx]
    mov [rdi+rcx], dl
    inc rcx
    jmp .byte
.end:
    mov byte [rdi+rbx], 0
    mov rax, rdi
    add rsp, 256
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_text_reverse
; A text's bytes in reverse order.
; in:      rcx = text
; out:     rax = a new text of the same length
; changes: rax, rcx, rdx, r8, r10, flags
; errors:  kv_oom
kv_text_reverse:
    mov r8, rcx
    call kv_strlen
    mov rdx, rax
    lea rcx, [rax+1]
    call kv_alloc
    mov byte [rax+rdx], 0
    xor ecx, ecx
.byte:
    test rdx, rdx
    jz .end
    dec rdx
    mov r10b, [r8+rdx]
    mov [rax+rcx], r10b
    inc rcx
    jmp .byte
.end:
    ret

; ---- kv_text_span
; How many bytes at one end of a text all occur in a set of bytes: at its start, or at
; its end (the trimming functions cut them off).
; in:      rcx = text, rdx = the set, r8 = 0 to count from the start, else from the end
; out:     rax = the number of bytes
; changes: rax, rcx, rdx, r9, flags
; errors:  none
kv_text_span:
    sub rsp, 256
    xor eax, eax
.clear:
    mov qword [rsp+rax], 0
    add eax, 8
    cmp eax, 256
    jb .clear
.member:
    movzx eax, byte [rdx]
    test eax, eax
    jz .marked
    mov byte [rsp+rax], 1
    inc rdx
    jmp .member
.marked:
    test r8, r8
    jnz .back
    xor eax, eax
.front:
    movzx edx, byte [rcx+rax]
    cmp byte [rsp+rdx], 0
    je .done
    inc rax
    jmp .front
.back:
    call kv_strlen
    mov r9, rax
.before:
    test r9, r9
    jz .last
    movzx edx, byte [rcx+r9-1]
    cmp byte [rsp+rdx], 0
    je .last
    dec r9
    jmp .before
.last:
    sub rax, r9
.done:
    add rsp, 256
    ret
