# Import libraries holding exactly the Windows functions the runtime calls: the names of
# the `extern` lines in the header piece of runtime/module.asm, so an import added there
# is in them at the next build. Each name goes to the library of the system import library
# that defines it (the mingw-w64 ones); a name that none or several define stops the
# build. The linker reads a small library much faster than the system ones, which
# describe every function of their DLL.
#
#   cmake -DMODULE=<module.asm> -DNM=<llvm-nm> -DDLLTOOL=<llvm-dlltool> -DSYSTEM=<folder>
#         -DLIBS=<KEY>=<system library file>,... -DOUT=<folder of the libraries>
#         -DDEFS=<folder of the .def files> -P import_libs.cmake
# writes <OUT>/<key in lower case>.lib for every KEY, importing from <KEY>.dll.

cmake_minimum_required(VERSION 3.20)

file(READ ${MODULE} module)
string(FIND "${module}" "; ---- header" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${MODULE} has no header piece")
endif()
string(SUBSTRING "${module}" ${start} -1 header)
string(LENGTH "; ---- header" skip)
string(SUBSTRING "${header}" ${skip} -1 rest)
string(FIND "${rest}" "; ---- " end)
string(SUBSTRING "${rest}" 0 ${end} header)

set(imports "")
string(REGEX MATCHALL "(^|\n)extern [^\n]*" lines "${header}")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^\n?extern " "" names "${line}")
  string(REGEX REPLACE "[ \t\r]" "" names "${names}")
  string(REPLACE "," ";" names "${names}")
  list(APPEND imports ${names})
endforeach()
if(NOT imports)
  message(FATAL_ERROR "${MODULE}: no extern lines in the header piece")
endif()

# What each system library defines, one name a line.
string(REPLACE "," ";" LIBS "${LIBS}")
foreach(row IN LISTS LIBS)
  string(REPLACE "=" ";" row "${row}")
  list(GET row 0 key)
  list(GET row 1 file)
  execute_process(COMMAND ${NM} --defined-only -j ${SYSTEM}/${file}
                  OUTPUT_VARIABLE defined ERROR_QUIET RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${NM} cannot read ${SYSTEM}/${file}")
  endif()
  string(REPLACE "\n" ";" defined "${defined}")
  set(defined_${key} ${defined})
  set(exports_${key} "")
  list(APPEND keys ${key})
endforeach()

foreach(name IN LISTS imports)
  set(owners "")
  foreach(key IN LISTS keys)
    if(name IN_LIST defined_${key})
      list(APPEND owners ${key})
    endif()
  endforeach()
  list(LENGTH owners count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "runtime/module.asm imports ${name}, which ${count} of the system import "
                        "libraries (${keys}) define; it must be exactly one")
  endif()
  list(APPEND exports_${owners} ${name})
endforeach()

file(MAKE_DIRECTORY ${OUT} ${DEFS})
foreach(key IN LISTS keys)
  string(TOLOWER ${key} lib)
  string(REPLACE ";" "\n" names "${exports_${key}}")
  file(WRITE ${DEFS}/${lib}.def "LIBRARY ${key}.dll\nEXPORTS\n${names}\n")
  execute_process(COMMAND ${DLLTOOL} -m i386:x86-64 -d ${DEFS}/${lib}.def -l ${OUT}/${lib}.lib
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${DLLTOOL} could not make ${OUT}/${lib}.lib")
  endif()
endforeach()
