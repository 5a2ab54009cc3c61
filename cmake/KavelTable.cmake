# The project's plain data tables (installer/payload.txt, driver/config_keys.txt, ...):
# one row a line, fields separated by blanks, "#" starts a comment line, blank lines
# are skipped. The same files are read by the shell scripts and the Python tests, so
# they stay this plain: no quoting, no field holds a blank.
include_guard(GLOBAL)

# kavel_read_table(<file> <var> <field>...): reads the table, whose every row must have
# exactly the fields named. Sets <var>_COUNT to the number of rows, <var>_ROWS to their
# indices (0, 1, ...; empty for no row) and <var>_<i> to the fields of row i as a list.
# Editing the file re-runs the configure step.
function(kavel_read_table file var)
  set(fields ${ARGN})
  list(LENGTH fields want)
  file(STRINGS ${file} lines)
  set(count 0)
  set(rows "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    string(REGEX REPLACE "[ \t]+" ";" values "${line}")
    list(LENGTH values have)
    if(NOT have EQUAL want)
      list(JOIN fields " " names)
      message(FATAL_ERROR "${file}: the row \"${line}\" has ${have} fields, not ${want} (${names})")
    endif()
    set(${var}_${count} "${values}" PARENT_SCOPE)
    list(APPEND rows ${count})
    math(EXPR count "${count} + 1")
  endforeach()
  set(${var}_COUNT ${count} PARENT_SCOPE)
  set(${var}_ROWS "${rows}" PARENT_SCOPE)
  set(${var}_FIELDS "${fields}" PARENT_SCOPE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
endfunction()

# kavel_table_row(<var> <i>): sets, in the caller, one variable per field of row i of
# the table read into <var>, each named as kavel_read_table named the field.
function(kavel_table_row var i)
  set(k 0)
  foreach(name IN LISTS ${var}_FIELDS)
    list(GET ${var}_${i} ${k} value)
    set(${name} "${value}" PARENT_SCOPE)
    math(EXPR k "${k} + 1")
  endforeach()
endfunction()
