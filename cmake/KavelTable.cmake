# The project's plain data tables (installer/payload.txt, driver/config_keys.txt, ...):
# one row a line, fields separated by blanks, "#" starts a comment line, blank lines
# are skipped. The same files are read by the shell scripts and the Python tests, so
# they stay this plain: no quoting, no field holds a blank.
include_guard(GLOBAL)

# kavel_read_table(<file> <var>): sets <var> to the number of rows and <var>_<i>, for
# i from 0, to the fields of row i as a list. Editing the file re-runs the configure step.
function(kavel_read_table file var)
  file(STRINGS ${file} lines)
  set(count 0)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
    set(${var}_${count} "${fields}" PARENT_SCOPE)
    math(EXPR count "${count} + 1")
  endforeach()
  set(${var} ${count} PARENT_SCOPE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
endfunction()
