# Compresses one file the way Debian wants installed documentation compressed:
# maximum compression, no name and no time stamp in the header, so the same
# input always gives the same bytes.
#   cmake -DGZIP=gzip -DIN=file -DOUT=file.gz -P gzip.cmake
execute_process(COMMAND ${GZIP} -9 -n -c ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "gzip failed on ${IN}: ${rc}")
endif()
