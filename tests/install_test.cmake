# Checks of what users get installed, run by CTest as cmake -P scripts.
#
# MODE=man: the manual pages render without a single groff warning, the
#   morlink page names every option letter that the option parser knows, and
#   the pakwrap page has an entry for every switch that its command line knows.
#   -DGROFF= -DSOURCE_DIR=
# MODE=install: cmake --install into a fresh prefix gives both programs, the
#   manual pages and the catalogues, and the installed morlink speaks German
#   under LANGUAGE=de, wherever it is started from.
#   -DBUILD_DIR= -DWORK_DIR= -DPLANTED_MO=

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

if(MODE STREQUAL "man")
  foreach(page morlink.1 pakwrap.1)
    execute_process(COMMAND ${GROFF} -man -ww -z ${SOURCE_DIR}/man/${page}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
      fail("groff on ${page} (status ${rc}):\n${out}")
    endif()
  endforeach()
  file(READ ${SOURCE_DIR}/code/options.cpp options)
  file(READ ${SOURCE_DIR}/man/morlink.1 page)
  string(REGEX MATCHALL "case '[A-Za-z?]':" cases "${options}")
  foreach(case IN LISTS cases)
    string(REGEX REPLACE "case '(.+)':" "\\1" letter "${case}")
    string(FIND "${page}" "\\-${letter}" at)
    if(at EQUAL -1)
      fail("man/morlink.1 does not describe the option -${letter}")
    endif()
  endforeach()
  # pakwrap's switches: the letters its mode selection knows, and /v.
  file(READ ${SOURCE_DIR}/code/pakwrap/cmdline.cpp cmdline)
  file(READ ${SOURCE_DIR}/man/pakwrap.1 page)
  string(REGEX MATCHALL "case '[a-z]':|\"/[a-z]\"" switches "${cmdline}")
  foreach(switch IN LISTS switches)
    string(REGEX REPLACE ".*([a-z])['\"].*" "\\1" letter "${switch}")
    if(NOT page MATCHES "\n\\.TP\n\\.B[IR]? /${letter}")
      fail("man/pakwrap.1 has no entry for the switch /${letter}")
    endif()
  endforeach()
  return()
endif()

if(NOT MODE STREQUAL "install")
  fail("unknown MODE '${MODE}'")
endif()

# Runs morlink with a German language selection; out: its standard output.
function(run_german out_var)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LC_ALL --unset=LC_MESSAGES
                          LANGUAGE=de LANG=C.UTF-8 ${ARGN} -s127.0.0.1 -X
                  WORKING_DIRECTORY ${WORK_DIR}/cwd
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 255)
    fail("${ARGN}: status ${rc}, output '${out}', errors '${err}'")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

function(expect what got want)
  if(NOT got STREQUAL want)
    fail("${what}: got '${got}', want '${want}'")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  fail("cmake --install failed: ${err}")
endif()
foreach(f bin/morlink bin/pakwrap share/man/man1/morlink.1.gz share/man/man1/pakwrap.1.gz
          share/locale/de/LC_MESSAGES/morlink.mo share/doc/morlink-tools/copyright
          share/bash-completion/completions/morlink share/bash-completion/completions/pakwrap)
  if(NOT EXISTS ${prefix}/${f})
    fail("not installed: ${f}")
  endif()
endforeach()

# A current directory that offers a catalogue of its own, which must be ignored.
set(german "unbekannte Option -X\n")
set(planted "PLANTED -X\n")
file(MAKE_DIRECTORY ${WORK_DIR}/cwd/de/LC_MESSAGES ${WORK_DIR}/share/locale/de/LC_MESSAGES)
file(COPY_FILE ${PLANTED_MO} ${WORK_DIR}/cwd/de/LC_MESSAGES/morlink.mo)
file(COPY_FILE ${PLANTED_MO} ${WORK_DIR}/share/locale/de/LC_MESSAGES/morlink.mo)

run_german(out ${prefix}/bin/morlink)
expect("installed morlink" "${out}" "${german}")

# Through the search path: no directory in the program's name.
run_german(out PATH=${prefix}/bin morlink)
expect("installed morlink from the search path" "${out}" "${german}")

# Through a link in another directory: the catalogues are found from the
# executable itself, not from the link's ../share/locale (which is planted).
file(MAKE_DIRECTORY ${WORK_DIR}/link)
file(CREATE_LINK ${prefix}/bin/morlink ${WORK_DIR}/link/morlink SYMBOLIC)
run_german(out ${WORK_DIR}/link/morlink)
expect("installed morlink through a link" "${out}" "${german}")

# An unpacked copy with its own catalogue uses that, not share/locale.
set(copy ${WORK_DIR}/copy)
file(MAKE_DIRECTORY ${copy}/bin/de/LC_MESSAGES ${copy}/share/locale/de/LC_MESSAGES)
file(COPY_FILE ${prefix}/bin/morlink ${copy}/bin/morlink)
file(COPY_FILE ${PLANTED_MO} ${copy}/bin/de/LC_MESSAGES/morlink.mo)
file(COPY_FILE ${prefix}/share/locale/de/LC_MESSAGES/morlink.mo
               ${copy}/share/locale/de/LC_MESSAGES/morlink.mo)
run_german(out ${copy}/bin/morlink)
expect("copy with its own catalogue" "${out}" "${planted}")
run_german(out PATH=${copy}/bin morlink)
expect("copy with its own catalogue, from the search path" "${out}" "${planted}")

execute_process(COMMAND ${prefix}/bin/pakwrap RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 2 OR NOT out MATCHES "^pakwrap V")
  fail("installed pakwrap without arguments: status ${rc}, output '${out}'")
endif()
