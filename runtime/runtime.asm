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
kv_strlen:
    ; TODO: not written yet
    ret

; ---- kv_concat
kv_concat:
    ; TODO: not written yet
    ret

; ---- kv_streq
kv_streq:
    ; TODO: not written yet
    ret

; ---- kv_int_to_str
kv_int_to_str:
    ; TODO: not written yet
    ret

; ---- kv_frac6_to_str
kv_frac6_to_str:
    ; TODO: not written yet
    ret

; ---- kv_rtrim_zeros
kv_rtrim_zeros:
    ; TODO: not written yet
    ret

; ---- kv_dbl_to_str
kv_dbl_to_str:
    ; TODO: not written yet
    ret

; ---- kv_str_to_float
kv_str_to_float:
    ; TODO: not written yet
    ret

; ---- kv_readline
kv_readline:
    ; TODO: not written yet
    ret

; ---- kv_str_to_int
kv_str_to_int:
    ; TODO: not written yet
    ret

; ---- kv_text_index
kv_text_index:
    ; TODO: not written yet
    ret

; ---- kv_chr
kv_chr:
    ; TODO: not written yet
    ret

; ---- kv_clock
kv_clock:
    ; TODO: not written yet
    ret

; ---- kv_system
kv_system:
    ; TODO: not written yet
    ret

; ---- kv_substr
kv_substr:
    ; TODO: not written yet
    ret

; ---- kv_readfile
kv_readfile:
    ; TODO: not written yet
    ret

; ---- kv_file_open
kv_file_open:
    ; TODO: not written yet
    ret

; ---- kv_file_read_chunk
kv_file_read_chunk:
    ; TODO: not written yet
    ret

; ---- kv_file_eof
kv_file_eof:
    ; TODO: not written yet
    ret

; ---- kv_file_close
kv_file_close:
    ; TODO: not written yet
    ret

; ---- kv_getenv
kv_getenv:
    ; TODO: not written yet
    ret

; ---- kv_exedir
kv_exedir:
    ; TODO: not written yet
    ret

; ---- kv_coro_switch
kv_coro_switch:
    ; TODO: not written yet
    ret

; ---- kv_coro_spawn
kv_coro_spawn:
    ; TODO: not written yet
    ret

; ---- kv_coro_yield
kv_coro_yield:
    ; TODO: not written yet
    ret

; ---- kv_coro_finish
kv_coro_finish:
    ; TODO: not written yet
    ret

; ---- kv_run_coroutines
kv_run_coroutines:
    ; TODO: not written yet
    ret

; ---- kv_writefile
kv_writefile:
    ; TODO: not written yet
    ret

; ---- kv_list_new
kv_list_new:
    ; TODO: not written yet
    ret

; ---- kv_list_push
kv_list_push:
    ; TODO: not written yet
    ret

; ---- kv_list_get
kv_list_get:
    ; TODO: not written yet
    ret

; ---- kv_list_set
kv_list_set:
    ; TODO: not written yet
    ret

; ---- kv_list_pop
kv_list_pop:
    ; TODO: not written yet
    ret

; ---- kv_init_argv
kv_init_argv:
    ; TODO: not written yet
    ret

; ---- kv_exc_push
kv_exc_push:
    ; TODO: not written yet
    ret

; ---- kv_exc_pop
kv_exc_pop:
    ; TODO: not written yet
    ret

; ---- kv_sock_listen
kv_sock_listen:
    ; TODO: not written yet
    ret

; ---- kv_sock_accept
kv_sock_accept:
    ; TODO: not written yet
    ret

; ---- kv_sock_recv
kv_sock_recv:
    ; TODO: not written yet
    ret

; ---- kv_sock_send
kv_sock_send:
    ; TODO: not written yet
    ret

; ---- kv_sock_close
kv_sock_close:
    ; TODO: not written yet
    ret

; ---- kv_map_new
kv_map_new:
    ; TODO: not written yet
    ret

; ---- kv_map_find
kv_map_find:
    ; TODO: not written yet
    ret

; ---- kv_map_set
kv_map_set:
    ; TODO: not written yet
    ret

; ---- kv_map_get
kv_map_get:
    ; TODO: not written yet
    ret

; ---- kv_map_has
kv_map_has:
    ; TODO: not written yet
    ret

; ---- kv_map_keys
kv_map_keys:
    ; TODO: not written yet
    ret

; ---- kv_print_str
kv_print_str:
    ; TODO: not written yet
    ret

; ---- kv_print_err
kv_print_err:
    ; TODO: not written yet
    ret

; ---- kv_print_int
kv_print_int:
    ; TODO: not written yet
    ret

; ---- kv_print_int_err
kv_print_int_err:
    ; TODO: not written yet
    ret

; ---- kv_print_list
kv_print_list:
    ; TODO: not written yet
    ret

; ---- kv_print_list_err
kv_print_list_err:
    ; TODO: not written yet
    ret
