# Renders one manual page as HTML. Any groff warning fails the build. The
# creation date that grohtml writes into a comment is left out, so that the
# same page always gives the same bytes.
#   cmake -DGROFF=groff -DIN=page.1 -DOUT=page.html -P manhtml.cmake
execute_process(COMMAND ${GROFF} -man -Thtml -ww ${IN}
                RESULT_VARIABLE rc OUTPUT_VARIABLE html ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "groff -Thtml on ${IN} (status ${rc}):\n${err}")
endif()
string(REGEX REPLACE "<!-- CreationDate: [^\n]*-->\n" "" html "${html}")
file(WRITE ${OUT} "${html}")
