# cmake -DBUILD_DIR=... -DPREFIX=... [-DEXE_SUFFIX=.exe] [-DMAN=/usr/bin/man]
#       [-DEMULATOR=word|word...] -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${installed}")
endif()

set(program "${PREFIX}/bin/tarve${EXE_SUFFIX}")
set(manual "${PREFIX}/share/man/man1/tarve.1")
foreach(path IN ITEMS "${program}" "${manual}")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

# The installed program runs: too few arguments give the usage text.
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} "${program}" OUTPUT_VARIABLE usage RESULT_VARIABLE status)
if(NOT usage MATCHES "^tarve ver 1.0" OR status EQUAL 0)
  message(FATAL_ERROR "installed program did not print its usage: ${status}\n${usage}")
endif()

if(NOT MAN)
  return()  # no man on this machine; said at configure time
endif()
execute_process(COMMAND "${MAN}" --warnings -l "${manual}"
                OUTPUT_VARIABLE page ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "" OR NOT page MATCHES "EXIT STATUS")
  message(FATAL_ERROR "man --warnings -l ${manual}: status ${status}\n${warnings}")
endif()
