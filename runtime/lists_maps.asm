; Lists and maps. A list header is KV_LIST_HEADER bytes: the count, the capacity and the
; address of the element array (KV_LIST_COUNT, KV_LIST_CAPACITY, KV_LIST_DATA). A map
; header is KV_MAP_HEADER bytes: the count, the capacity and two parallel arrays of keys
; (texts) and values. The counts sit at offset 0 and are addressed as [reg]. A header keeps
; its address when its arrays grow, so every holder of it sees the growth.

; ---- kv_list_new
; A new empty list with room for a number of elements (0 counts as 1).
; in:      rcx = capacity
; out:     rax = a new list header
; changes: rax, rcx, r8, r10, flags
; errors:  kv_oom when the capacity is not below KV_CAPACITY_LIMIT (compared unsigned, so a
;          negative one too) or the heap is full
kv_list_new:
    push rbx
    mov rbx, rcx
    test rbx, rbx
    jnz .limit
    mov ebx, 1
.limit:
    mov rax, KV_CAPACITY_LIMIT
    cmp rbx, rax
    jae kv_oom
    mov ecx, KV_LIST_HEADER
    call kv_alloc
    mov r8, rax
    lea rcx, [rbx*8]
    call kv_alloc
    mov qword [r8], 0
    mov [r8+KV_LIST_CAPACITY], rbx
    mov [r8+KV_LIST_DATA], rax
    mov rax, r8
    pop rbx
    ret

; ---- kv_list_push
; Appends a value to a list. A full list gets an element array twice as large (4 slots
; when it had none) in the same header, so every holder of the list sees it grow; the old
; array is left as it was, so a loop that read its address goes on safely.
; in:      rcx = list, rdx = value
; out:     rax = the same list
; changes: rax, rcx, r8-r11, flags
; errors:  kv_oom when the new capacity reaches KV_CAPACITY_LIMIT or the heap is full
kv_list_push:
    push rbx
    push rsi
    push rdi
    mov rbx, rcx
    mov rsi, rdx
    mov rax, [rbx]
    cmp rax, [rbx+KV_LIST_CAPACITY]
    jb .store
    mov rdi, [rbx+KV_LIST_CAPACITY]
    add rdi, rdi
    jnz .limit
    mov edi, 4
.limit:
    mov rax, KV_CAPACITY_LIMIT
    cmp rdi, rax
    jae kv_oom
    lea rcx, [rdi*8]
    call kv_alloc
    mov r8, [rbx+KV_LIST_DATA]
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
    mov [rbx+KV_LIST_DATA], rax
    mov [rbx+KV_LIST_CAPACITY], rdi
    mov rax, r9
.store:
    mov rcx, [rbx+KV_LIST_DATA]
    mov [rcx+rax*8], rsi
    inc rax
    mov [rbx], rax
    mov rax, rbx
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_list_get
; The element at an index.
; in:      rcx = list, rdx = index
; out:     rax = element
; changes: rax, flags
; errors:  kv_oob when the index is not below the count (compared unsigned, so a negative
;          index too)
kv_list_get:
    cmp rdx, [rcx]
    jae kv_oob
    mov rax, [rcx+KV_LIST_DATA]
    mov rax, [rax+rdx*8]
    ret

; ---- kv_list_set
; Replaces the element at an index.
; in:      rcx = list, rdx = index, r8 = value
; out:     nothing
; changes: rax, flags
; errors:  kv_oob as for kv_list_get
kv_list_set:
    cmp rdx, [rcx]
    jae kv_oob
    mov rax, [rcx+KV_LIST_DATA]
    mov [rax+rdx*8], r8
    ret

; ---- kv_list_pop
; Removes the last element and gives it.
; in:      rcx = list
; out:     rax = element
; changes: rax, rdx, flags
; errors:  kv_empty when the list is empty
kv_list_pop:
    mov rax, [rcx]
    test rax, rax
    jz kv_empty
    dec rax
    mov [rcx], rax
    mov rdx, [rcx+KV_LIST_DATA]
    mov rax, [rdx+rax*8]
    ret

; ---- kv_map_new
; A new empty map with room for a number of entries (at least 4).
; in:      ecx = capacity (the low 32 bits of rcx)
; out:     rax = a new map header
; changes: rax, rcx, r10, flags
; errors:  kv_oom
kv_map_new:
    push rbx
    push rsi
    mov ebx, ecx
    cmp rbx, 4
    jae .alloc
    mov ebx, 4
.alloc:
    mov ecx, KV_MAP_HEADER
    call kv_alloc
    mov rsi, rax
    lea rcx, [rbx*8]
    call kv_alloc
    mov [rsi+KV_MAP_KEYS], rax
    lea rcx, [rbx*8]
    call kv_alloc
    mov [rsi+KV_MAP_VALUES], rax
    mov qword [rsi], 0
    mov [rsi+KV_MAP_CAPACITY], rbx
    mov rax, rsi
    pop rsi
    pop rbx
    ret

; ---- kv_map_find
; The index of a key's entry. A number as the key (see kv_is_text) stands for its decimal
; text, so every key kept is a text and the search compares bytes only.
; in:      rcx = map, rdx = key
; out:     rax = index of the entry, -1 when the key is absent
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom (for the text of a number)
kv_map_find:
    push rbx
    push rsi
    push rdi
    mov rbx, rcx
    mov rsi, rdx
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
    mov rax, [rbx+KV_MAP_KEYS]
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
; Sets a key's value: an existing entry keeps its place, a new key is appended (both arrays
; double when full, 4 slots when they had none). The key kept is a text: a number stands
; for its decimal text, as in kv_map_find.
; in:      rcx = map, rdx = key, r8 = value
; out:     rax = the same map
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom when the new capacity reaches KV_CAPACITY_LIMIT or the heap is full
kv_map_set:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    mov rbx, rcx
    mov rsi, rdx
    mov rdi, r8
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
    mov rcx, [rbx+KV_MAP_VALUES]
    mov [rcx+rax*8], rdi
    jmp .done
.insert:
    mov rax, [rbx]
    cmp rax, [rbx+KV_MAP_CAPACITY]
    jb .append
    mov r12, [rbx+KV_MAP_CAPACITY]
    add r12, r12
    jnz .limit
    mov r12d, 4
.limit:
    mov rax, KV_CAPACITY_LIMIT
    cmp r12, rax
    jae kv_oom
    lea rcx, [r12*8]
    call kv_alloc
    mov r13, rax
    lea rcx, [r12*8]
    call kv_alloc
    mov r8, [rbx+KV_MAP_KEYS]
    mov r9, [rbx+KV_MAP_VALUES]
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
    mov [rbx+KV_MAP_KEYS], r13
    mov [rbx+KV_MAP_VALUES], rax
    mov [rbx+KV_MAP_CAPACITY], r12
.append:
    mov rax, [rbx]
    mov rcx, [rbx+KV_MAP_KEYS]
    mov [rcx+rax*8], rsi
    mov rcx, [rbx+KV_MAP_VALUES]
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
; The value of a key.
; in:      rcx = map, rdx = key
; out:     rax = value
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_nokey when the key is absent; kv_oom as for kv_map_find
kv_map_get:
    push rbx
    mov rbx, rcx
    call kv_map_find
    test rax, rax
    js kv_nokey
    mov rcx, [rbx+KV_MAP_VALUES]
    mov rax, [rcx+rax*8]
    pop rbx
    ret

; ---- kv_map_has
; Whether a map holds a key.
; in:      rcx = map, rdx = key
; out:     rax = 1 or 0
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom as for kv_map_find
kv_map_has:
    call kv_map_find
    test rax, rax
    setns al
    movzx eax, al
    ret

; ---- kv_map_keys
; A new list of a map's keys, in the order they were first set.
; in:      rcx = map
; out:     rax = a new list
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
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
    mov rax, [rbx+KV_MAP_KEYS]
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
