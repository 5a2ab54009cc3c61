# Joins the runtime's group files into one C++ source that holds each piece of the
# runtime text as bytes, for emitasm to embed. Run at build time as
#   cmake -DRUNTIME_DIR=<folder of routines.txt and the .asm files> -DOUTPUT=<file.cpp> -P join.cmake
# routines.txt says how the files are laid out. The join stops the build, naming the file,
# when a routine listed there is defined nowhere, a section is neither listed nor a piece,
# a name is listed or defined twice, lines stand outside any section, a section holds a
# second routine's label, or a contract line is missing.

cmake_policy(VERSION 3.20)

# The sections emitasm writes at their own places in the module, not in the routine block.
set(pieces header kv_start exit_template exit_table data bss)
# Sections with a contract, and the label that follows it.
set(contracted_pieces kv_start exit_template)
set(label_of_kv_start kv_start)
set(label_of_exit_template EXIT)

function(fail message)
  message(FATAL_ERROR "runtime: ${message}")
endfunction()

# The routine names of routines.txt, in order.
function(read_order file out)
  file(STRINGS "${file}" lines REGEX "^[^#]")
  set(names "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" name)
    if(name STREQUAL "")
      continue()
    endif()
    if(NOT name MATCHES "^[a-z_][a-z0-9_]*$")
      fail("${file}: \"${name}\" is not a routine name")
    endif()
    if(name IN_LIST names)
      fail("${file}: ${name} is listed twice")
    endif()
    list(APPEND names ${name})
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The comment above a section's label must hold the four contract lines, and nothing but
# comments may stand between the section's first line and the label.
function(check_contract file name section label)
  string(FIND "${section}" "\n${label}:" at)
  if(at EQUAL -1)
    fail("${file}: section ${name} has no label \"${label}:\"")
  endif()
  string(SUBSTRING "${section}" 0 ${at} head)
  if(head MATCHES "\n[ \t]*[^; \t\n]")
    fail("${file}: section ${name} has lines that are not comments above its label")
  endif()
  foreach(key in out changes errors)
    string(FIND "${head}" "\n; ${key}:" found)
    if(found EQUAL -1)
      fail("${file}: ${name} has no \"; ${key}:\" line in its contract")
    endif()
  endforeach()
endfunction()

# A routine's section defines that routine only: every flush-left label not starting
# with "." is its own name.
function(check_single_routine file name section)
  string(REGEX MATCHALL "\n[A-Za-z_][A-Za-z0-9_]*:" labels "${section}")
  foreach(label IN LISTS labels)
    string(STRIP "${label}" label)
    if(NOT label STREQUAL "${name}:")
      fail("${file}: section ${name} also defines ${label} (a routine needs its own section)")
    endif()
  endforeach()
endfunction()

# The bytes of a text as a C++ array definition named var.
function(c_array var text out)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
         "\\1\n" bytes "${bytes}")
  set(${out} "const unsigned char ${var}[] = {\n${bytes}0};\n" PARENT_SCOPE)
endfunction()

read_order("${RUNTIME_DIR}/routines.txt" order)
file(GLOB groups "${RUNTIME_DIR}/*.asm")
list(SORT groups)

# Split every group file into its sections: section_<name> holds the text from its
# "; ---- <name>" line up to the next one, file_<name> the file it came from.
set(defined "")
foreach(path IN LISTS groups)
  get_filename_component(file "${path}" NAME)
  file(READ "${path}" text)
  string(REPLACE "\r" "" text "${text}")
  set(text "\n${text}")
  string(FIND "${text}" "\n; ---- " at)
  if(at EQUAL -1)
    fail("${file}: no section (a line \"; ---- <name>\")")
  endif()
  string(SUBSTRING "${text}" 0 ${at} preamble)
  if(preamble MATCHES "\n[ \t]*[^; \t\n]")
    fail("${file}: lines before the first section that are not comments would be lost")
  endif()
  math(EXPR at "${at} + 1")
  string(SUBSTRING "${text}" ${at} -1 rest)
  string(LENGTH "${rest}" left)
  while(left GREATER 0)
    string(FIND "${rest}" "\n; ---- " next)
    if(next EQUAL -1)
      set(section "${rest}")
      set(rest "")
    else()
      math(EXPR next "${next} + 1")
      string(SUBSTRING "${rest}" 0 ${next} section)
      string(SUBSTRING "${rest}" ${next} -1 rest)
    endif()
    string(LENGTH "${rest}" left)
    if(NOT section MATCHES "^; ---- ([A-Za-z0-9_]+)[ \t]*\n")
      fail("${file}: a section line must be \"; ---- <name>\"")
    endif()
    set(name "${CMAKE_MATCH_1}")
    if(DEFINED section_${name})
      fail("${file}: ${name} is defined again (first in ${file_${name}})")
    endif()
    set(section_${name} "${section}")
    set(file_${name} "${file}")
    list(APPEND defined ${name})
  endwhile()
endforeach()

foreach(name IN LISTS defined)
  set(file "${file_${name}}")
  if(name IN_LIST pieces)
    if(name IN_LIST order)
      fail("routines.txt: ${name} is a module piece, not a routine of the block")
    endif()
    if(name IN_LIST contracted_pieces)
      check_contract("${file}" ${name} "\n${section_${name}}" ${label_of_${name}})
    endif()
  elseif(name IN_LIST order)
    check_contract("${file}" ${name} "\n${section_${name}}" ${name})
    check_single_routine("${file}" ${name} "\n${section_${name}}")
  else()
    fail("${file}: routine ${name} is not listed in routines.txt")
  endif()
endforeach()
foreach(name IN LISTS pieces order)
  if(NOT DEFINED section_${name})
    fail("${name} is defined in no runtime/*.asm file")
  endif()
endforeach()

set(routines "")
foreach(name IN LISTS order)
  string(APPEND routines "${section_${name}}")
endforeach()

set(arrays "")
set(fields "")
foreach(piece routines ${pieces})
  if(piece STREQUAL "routines")
    set(text "${routines}")
  else()
    set(text "${section_${piece}}")
  endif()
  c_array(k_${piece} "${text}" array)
  string(APPEND arrays "${array}")
  string(APPEND fields "      .${piece} = view(k_${piece}, sizeof k_${piece}),\n")
endforeach()

file(WRITE "${OUTPUT}.tmp"
"// Generated from runtime/*.asm and runtime/routines.txt at build time; do not edit.\n"
"#include \"runtime_text.h\"\n"
"\n"
"namespace kv {\n"
"namespace {\n"
"\n"
"${arrays}"
"\n"
"std::string_view view(const unsigned char* bytes, size_t size) {\n"
"  return std::string_view(reinterpret_cast<const char*>(bytes), size - 1);\n"
"}\n"
"\n"
"}  // namespace\n"
"\n"
"const RuntimeText& runtime_text() {\n"
"  static const RuntimeText text{\n"
"${fields}"
"  };\n"
"  return text;\n"
"}\n"
"\n"
"}  // namespace kv\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
