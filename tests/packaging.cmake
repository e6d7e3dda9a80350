# What users get installed: the manual pages, and cmake --install into a fresh
# prefix (install_test.cmake). The Debian package is checked by tools/package.
if(NOT UNIX)
  return()
endif()
find_program(TOOLS_GROFF groff REQUIRED)
add_test(NAME man.pages
  COMMAND ${CMAKE_COMMAND} -DMODE=man -DGROFF=${TOOLS_GROFF} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/install_test.cmake)
add_test(NAME install.prefix
  COMMAND ${CMAKE_COMMAND} -DMODE=install -DBUILD_DIR=${PROJECT_BINARY_DIR}
          -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install_test
          -DPLANTED_MO=${CMAKE_CURRENT_BINARY_DIR}/morlink_planted.mo
          -P ${CMAKE_CURRENT_SOURCE_DIR}/install_test.cmake)
# The bash completions offer the options and the switches.
find_program(TOOLS_BASH bash)
if(TOOLS_BASH)
  add_test(NAME completion.bash
    COMMAND ${TOOLS_BASH} -c [[
      set -e
      source completions/morlink
      COMP_WORDS=(morlink -w); COMP_CWORD=1; _morlink
      [ "${COMPREPLY[*]}" = "-w" ]
      COMP_WORDS=(morlink -icompletions/pak); COMP_CWORD=1; _morlink
      [ "${COMPREPLY[*]}" = "-icompletions/pakwrap" ]
      COMP_WORDS=(morlink -cr); COMP_CWORD=1; _morlink
      [ "${COMPREPLY[*]}" = "-crfc2217://" ]
      source completions/pakwrap
      COMP_WORDS=(pakwrap a b /m); COMP_CWORD=3; _pakwrap
      [ "${COMPREPLY[*]}" = "/m=" ]
    ]]
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
endif()
