; Lists and maps. A list header is KV_LIST_HEADER bytes: the count, the capacity, the
; address of the element array and the floats flag (KV_LIST_COUNT, KV_LIST_CAPACITY,
; KV_LIST_DATA, KV_LIST_FLOATS). A map header is KV_MAP_HEADER bytes: the count, the
; capacity and two parallel arrays of keys (texts) and values, entries in the order their
; keys were first set. A map of more than KV_MAP_SMALL slots also keeps a hash index of its
; keys, whose address stands just before keys slot 0 (KV_MAP_INDEX), so finding a key
; costs the same at any size; it is made anew whenever the arrays grow. The counts sit at
; offset 0 and are addressed as [reg]. A header keeps its address when its arrays grow, so
; every holder of it sees the growth.
;
; Elements and values keep their kind: an array of value slots is one block holding the
; address of the slots' kind bytes (KV_SLOT_KINDS bytes before slot 0), the slots, then one
; kind byte per slot (KV_KIND_INT, KV_KIND_FLOAT, ...). A fresh block reads as zeros, so a
; slot nobody has stored into is an integer.

; ---- kv_slots_new
; A new array of value slots with a kind byte for each, every kind an integer.
; in:      rcx = capacity, from 1 below KV_CAPACITY_LIMIT
; out:     rax = the address of slot 0; [rax-KV_SLOT_KINDS] holds the address of kind 0
; changes: rax, rcx, r10, flags (as kv_alloc: its callers keep pointers in rdx, r8 and r9)
; errors:  kv_oom
kv_slots_new:
    push rcx
    lea rcx, [rcx+rcx*8+KV_SLOT_KINDS]
    call kv_alloc
    pop rcx
    lea r10, [rax+KV_SLOT_KINDS]
    lea rcx, [r10+rcx*8]
    mov [rax], rcx
    mov rax, r10
    ret

; ---- kv_slots_copy
; Copies the first values of one array of value slots into another, with their kinds.
; in:      rcx = count, rdx = source slots, r8 = destination slots
; out:     nothing
; changes: rax, rcx, r9-r11, flags
; errors:  none
kv_slots_copy:
    mov r9, [rdx-KV_SLOT_KINDS]
    mov r10, [r8-KV_SLOT_KINDS]
    xor r11d, r11d
.move:
    cmp r11, rcx
    jae .done
    mov rax, [rdx+r11*8]
    mov [r8+r11*8], rax
    movzx eax, byte [r9+r11]
    mov [r10+r11], al
    inc r11
    jmp .move
.done:
    ret

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
    mov rcx, rbx
    call kv_slots_new
    mov qword [r8], 0
    mov [r8+KV_LIST_CAPACITY], rbx
    mov [r8+KV_LIST_DATA], rax
    mov rax, r8
    pop rbx
    ret

; ---- kv_list_push
; Appends a value of a kind to a list. A list whose first element is a float holds floats:
; an integer pushed onto it becomes a float. A full list gets an element array twice as
; large (4 slots when it had none) in the same header, so every holder of the list sees
; it grow; the old array is left as it was, so a loop that read its address goes on safely.
; in:      rcx = list, rdx = value, r8 = its kind
; out:     rax = the same list
; changes: rax, rcx, rdx, r8-r11, xmm0, flags
; errors:  kv_oom when the new capacity reaches KV_CAPACITY_LIMIT or the heap is full
kv_list_push:
    push rbx
    push rsi
    push rdi
    push r12
    mov rbx, rcx
    mov rsi, rdx
    mov r12, r8
    cmp qword [rbx], 0
    jne .promote
    xor eax, eax
    cmp r12, KV_KIND_FLOAT
    sete al
    mov [rbx+KV_LIST_FLOATS], rax
.promote:
    cmp qword [rbx+KV_LIST_FLOATS], 0
    je .room
    cmp r12, KV_KIND_INT
    jne .room
    cvtsi2sd xmm0, rsi
    movq rsi, xmm0
    mov r12d, KV_KIND_FLOAT
.room:
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
    mov rcx, rdi
    call kv_slots_new
    mov r8, rax
    mov rcx, [rbx]
    mov rdx, [rbx+KV_LIST_DATA]
    call kv_slots_copy
    mov [rbx+KV_LIST_DATA], r8
    mov [rbx+KV_LIST_CAPACITY], rdi
    mov rax, [rbx]
.store:
    mov rcx, [rbx+KV_LIST_DATA]
    mov [rcx+rax*8], rsi
    mov rcx, [rcx-KV_SLOT_KINDS]
    mov [rcx+rax], r12b
    inc rax
    mov [rbx], rax
    mov rax, rbx
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_list_get
; The element at an index, with its kind.
; in:      rcx = list, rdx = index
; out:     rax = element, rdx = its kind
; changes: rax, rcx, rdx, flags
; errors:  kv_oob when the index is not below the count (compared unsigned, so a negative
;          index too)
kv_list_get:
    cmp rdx, [rcx]
    jae kv_oob
    mov rax, [rcx+KV_LIST_DATA]
    mov rcx, [rax-KV_SLOT_KINDS]
    movzx ecx, byte [rcx+rdx]
    mov rax, [rax+rdx*8]
    mov edx, ecx
    ret

; ---- kv_list_set
; Replaces the element at an index by a value of a kind; in a list of floats an integer
; becomes a float.
; in:      rcx = list, rdx = index, r8 = value, r9 = its kind
; out:     nothing
; changes: rax, r8, r9, xmm0, flags
; errors:  kv_oob as for kv_list_get
kv_list_set:
    cmp rdx, [rcx]
    jae kv_oob
    cmp qword [rcx+KV_LIST_FLOATS], 0
    je .store
    cmp r9, KV_KIND_INT
    jne .store
    cvtsi2sd xmm0, r8
    movq r8, xmm0
    mov r9d, KV_KIND_FLOAT
.store:
    mov rax, [rcx+KV_LIST_DATA]
    mov [rax+rdx*8], r8
    mov rax, [rax-KV_SLOT_KINDS]
    mov [rax+rdx], r9b
    ret

; ---- kv_list_pop
; Removes the last element and gives it, with its kind.
; in:      rcx = list
; out:     rax = element, rdx = its kind
; changes: rax, rcx, rdx, flags
; errors:  kv_empty when the list is empty
kv_list_pop:
    mov rax, [rcx]
    test rax, rax
    jz kv_empty
    dec rax
    mov [rcx], rax
    mov rdx, [rcx+KV_LIST_DATA]
    mov rcx, [rdx-KV_SLOT_KINDS]
    movzx ecx, byte [rcx+rax]
    mov rax, [rdx+rax*8]
    mov edx, ecx
    ret

; ---- kv_map_new
; A new empty map with room for a number of entries (at least 4); a map of more than
; KV_MAP_SMALL slots gets its hash index at once.
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
    mov rcx, rbx
    call kv_map_keys_new
    mov [rsi+KV_MAP_KEYS], rax
    mov rcx, rbx
    call kv_slots_new
    mov [rsi+KV_MAP_VALUES], rax
    mov qword [rsi], 0
    mov [rsi+KV_MAP_CAPACITY], rbx
    mov rax, rsi
    pop rsi
    pop rbx
    ret

; ---- kv_map_keys_new
; A new keys array for a map of a capacity, with the empty hash index a map of that size
; keeps: a table of the smallest power of two of slots that is at least twice the
; capacity, cleared here so that it never depends on what a block held before.
; in:      rcx = capacity, from 4
; out:     rax = the address of keys slot 0; [rax-KV_MAP_INDEX] holds the index, or 0 when
;          the capacity is at most KV_MAP_SMALL
; changes: rax, rcx, r10, flags
; errors:  kv_oom
kv_map_keys_new:
    push rbx
    push rsi
    push rdi
    mov rbx, rcx
    lea rcx, [rcx*8+KV_MAP_INDEX]
    call kv_alloc
    mov qword [rax], 0
    lea rsi, [rax+KV_MAP_INDEX]
    cmp rbx, KV_MAP_SMALL
    jbe .done
    lea rcx, [rbx+rbx-1]
    bsr rcx, rcx
    mov ebx, 2
    shl rbx, cl
    lea rcx, [rbx*8+KV_INDEX_SLOTS]
    call kv_alloc
    mov [rsi-KV_MAP_INDEX], rax
    lea rdi, [rax+KV_INDEX_SLOTS]
    lea rcx, [rbx-1]
    mov [rax], rcx
    mov rcx, rbx
    xor eax, eax
    rep stosq
.done:
    mov rax, rsi
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_map_hash
; The hash of a key: 64-bit FNV-1a over its bytes (one xor and one multiply a byte, no
; table, and keys that differ in a single byte land far apart), with the high half folded
; into the low half, whose bits pick the slot.
; in:      rcx = text
; out:     rax = the 32-bit hash (the high half of rax is 0)
; changes: rax, rcx, r9, r10, flags
; errors:  none
kv_map_hash:
    mov rax, 0xCBF29CE484222325
    mov r9, 0x100000001B3
.byte:
    movzx r10d, byte [rcx]
    test r10d, r10d
    jz .fold
    xor rax, r10
    imul rax, r9
    inc rcx
    jmp .byte
.fold:
    mov r10, rax
    shr r10, 32
    xor eax, r10d
    ret

; ---- kv_map_index_put
; Enters an entry in a map's hash index, in the first empty slot from the one its hash
; picks (the table is never more than half full, so there is one).
; in:      rcx = index, rdx = the key's hash (its low 32 bits), r8 = the entry's number
; out:     nothing
; changes: rax, r10, r11, flags
; errors:  none
kv_map_index_put:
    mov r11, [rcx]
    mov r10d, edx
    and r10, r11
.probe:
    cmp qword [rcx+KV_INDEX_SLOTS+r10*8], 0
    je .store
    inc r10
    and r10, r11
    jmp .probe
.store:
    mov rax, rdx
    shl rax, 32
    lea rax, [rax+r8+1]
    mov [rcx+KV_INDEX_SLOTS+r10*8], rax
    ret

; ---- kv_map_find
; The index of a key's entry: through the hash index when the map has one (only keys of
; the same hash are compared), else by comparing the keys in order.
; in:      rcx = map, rdx = key text
; out:     rax = index of the entry, -1 when the key is absent; r8 = the key's hash when
;          the map has an index
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  none
kv_map_find:
    push rbx
    push rsi
    push rdi
    push r12
    mov rbx, rcx
    mov rsi, rdx
    mov rax, [rbx+KV_MAP_KEYS]
    mov rdi, [rax-KV_MAP_INDEX]
    test rdi, rdi
    jnz .hashed
    xor r12d, r12d
.scan:
    cmp r12, [rbx]
    jae .absent
    mov rax, [rbx+KV_MAP_KEYS]
    mov rcx, [rax+r12*8]
    mov rdx, rsi
    call kv_streq
    test eax, eax
    jnz .found
    inc r12
    jmp .scan
.hashed:
    mov rcx, rsi
    call kv_map_hash
    mov r8, rax
    mov r10d, eax
    and r10, [rdi]
.probe:
    mov rax, [rdi+KV_INDEX_SLOTS+r10*8]
    test rax, rax
    jz .absent
    mov rcx, rax
    shr rcx, 32
    cmp ecx, r8d
    jne .next
    mov r12d, eax
    dec r12
    mov rcx, [rbx+KV_MAP_KEYS]
    mov rcx, [rcx+r12*8]
    mov rdx, rsi
    call kv_streq
    test eax, eax
    jnz .found
.next:
    inc r10
    and r10, [rdi]
    jmp .probe
.absent:
    mov rax, -1
    jmp .done
.found:
    mov rax, r12
.done:
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_map_grow
; Gives a map arrays of a larger capacity, its entries copied in order, and the hash index
; that capacity needs, every key entered anew. The header takes the new arrays only once
; all of them are made, so a map that cannot grow is left as it was.
; in:      rcx = map, rdx = new capacity, above the count and below KV_CAPACITY_LIMIT
; out:     nothing
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom
kv_map_grow:
    push rbx
    push rsi
    push rdi
    push r12
    mov rbx, rcx
    mov r12, rdx
    mov rcx, r12
    call kv_map_keys_new
    mov rsi, rax
    mov rcx, r12
    call kv_slots_new
    mov r8, rax
    mov rcx, [rbx]
    mov rdx, [rbx+KV_MAP_VALUES]
    call kv_slots_copy
    mov [rbx+KV_MAP_VALUES], r8
    mov r9, [rbx+KV_MAP_KEYS]
    xor edi, edi
.move:
    cmp rdi, [rbx]
    jae .moved
    mov rax, [r9+rdi*8]
    mov [rsi+rdi*8], rax
    inc rdi
    jmp .move
.moved:
    mov [rbx+KV_MAP_KEYS], rsi
    mov [rbx+KV_MAP_CAPACITY], r12
    mov rsi, [rsi-KV_MAP_INDEX]
    test rsi, rsi
    jz .done
    xor edi, edi
.enter:
    cmp rdi, [rbx]
    jae .done
    mov rax, [rbx+KV_MAP_KEYS]
    mov rcx, [rax+rdi*8]
    call kv_map_hash
    mov rcx, rsi
    mov rdx, rax
    mov r8, rdi
    call kv_map_index_put
    inc rdi
    jmp .enter
.done:
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_map_set
; Sets a key's value and its kind: an existing entry keeps its place, a new key is appended
; and entered in the hash index (both arrays double when full, 4 slots when they had none).
; in:      rcx = map, rdx = key text, r8 = value, r9 = its kind
; out:     rax = the same map
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_oom when the new capacity reaches KV_CAPACITY_LIMIT or the heap is full
kv_map_set:
    push rbx
    push rsi
    push rdi
    push r12
    push r13
    push r14
    mov rbx, rcx
    mov rsi, rdx
    mov rdi, r8
    mov r14, r9
    call kv_map_find
    test rax, rax
    jns .put
    mov r13, r8
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
    mov rcx, rbx
    mov rdx, r12
    call kv_map_grow
; the map may have had no index before it grew: hash the key for the new one
    mov rcx, rsi
    call kv_map_hash
    mov r13, rax
.append:
    mov r12, [rbx]
    mov rcx, [rbx+KV_MAP_KEYS]
    mov [rcx+r12*8], rsi
    inc qword [rbx]
    mov rcx, [rcx-KV_MAP_INDEX]
    test rcx, rcx
    jz .new
    mov rdx, r13
    mov r8, r12
    call kv_map_index_put
.new:
    mov rax, r12
.put:
    mov rcx, [rbx+KV_MAP_VALUES]
    mov [rcx+rax*8], rdi
    mov rcx, [rcx-KV_SLOT_KINDS]
    mov [rcx+rax], r14b
    mov rax, rbx
    pop r14
    pop r13
    pop r12
    pop rdi
    pop rsi
    pop rbx
    ret

; ---- kv_map_get
; The value of a key, with its kind.
; in:      rcx = map, rdx = key text
; out:     rax = value, rdx = its kind
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  kv_nokey when the key is absent
kv_map_get:
    push rbx
    mov rbx, rcx
    call kv_map_find
    test rax, rax
    js kv_nokey
    mov rcx, [rbx+KV_MAP_VALUES]
    mov rdx, [rcx-KV_SLOT_KINDS]
    movzx edx, byte [rdx+rax]
    mov rax, [rcx+rax*8]
    pop rbx
    ret

; ---- kv_map_get_float
; The value of a key, with its kind, where an integer is given as a float (the getter that
; names floats).
; in:      rcx = map, rdx = key text
; out:     rax = value, rdx = its kind
; changes: rax, rcx, rdx, r8-r11, xmm0, flags
; errors:  kv_nokey when the key is absent
kv_map_get_float:
    call kv_map_get
    cmp rdx, KV_KIND_INT
    jne .done
    cvtsi2sd xmm0, rax
    movq rax, xmm0
    mov edx, KV_KIND_FLOAT
.done:
    ret

; ---- kv_map_has
; Whether a map holds a key.
; in:      rcx = map, rdx = key text
; out:     rax = 1 or 0
; changes: rax, rcx, rdx, r8-r11, flags
; errors:  none
kv_map_has:
    call kv_map_find
    test rax, rax
    setns al
    movzx eax, al
    ret

; ---- kv_map_keys
; A new list of a map's keys (texts), in the order they were first set.
; in:      rcx = map
; out:     rax = a new list
; changes: rax, rcx, rdx, r8-r11, xmm0, flags
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
    mov r8d, KV_KIND_TEXT
    call kv_list_push
    inc rdi
    jmp .loop
.done:
    mov rax, rsi
    pop rdi
    pop rsi
    pop rbx
    ret
