# The Windows release: one folder, packed by cpack -G ZIP as
# morlink-tools-VERSION-win32.zip (or -win64) that holds
# morlink-tools-VERSION-win32\ with the programs, de\LC_MESSAGES\morlink.mo
# beside them (the root CMakeLists.txt puts both at the folder's top),
# README.txt and LICENSE.txt with Windows line ends, and both manual pages
# as HTML. Included by packaging.cmake.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOOLS_WINDOWS_TARGET win64)
else()
  set(TOOLS_WINDOWS_TARGET win32)
endif()
set(TOOLS_WINDOWS_DIR ${PROJECT_BINARY_DIR}/windows)

configure_file(${CMAKE_CURRENT_LIST_DIR}/README-windows.txt.in ${TOOLS_WINDOWS_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${TOOLS_WINDOWS_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

# groff's HTML output comes with Debian's groff package (groff-base has no grohtml).
find_program(TOOLS_GROFF groff REQUIRED)
set(TOOLS_HTML)
foreach(page morlink pakwrap)
  set(html ${TOOLS_WINDOWS_DIR}/${page}.html)
  add_custom_command(OUTPUT ${html}
    COMMAND ${CMAKE_COMMAND} -DGROFF=${TOOLS_GROFF} -DIN=${PROJECT_SOURCE_DIR}/man/${page}.1 -DOUT=${html}
            -P ${PROJECT_SOURCE_DIR}/cmake/manhtml.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}.1 ${PROJECT_SOURCE_DIR}/cmake/manhtml.cmake
    VERBATIM)
  list(APPEND TOOLS_HTML ${html})
endforeach()
add_custom_target(tools_html ALL DEPENDS ${TOOLS_HTML})

install(FILES ${TOOLS_WINDOWS_DIR}/README.txt ${TOOLS_WINDOWS_DIR}/LICENSE.txt ${TOOLS_HTML} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${TOOLS_PACKAGE_NAME}-${PROJECT_VERSION}-${TOOLS_WINDOWS_TARGET})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
