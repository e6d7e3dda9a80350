# The catalogue check reads the platform folders too: a copy of the sources
# passes it, and fails it once a file under code/linux/ has a message that the
# catalogues lack.
set(copy ${WORK_DIR}/catalogue_subfolder)
file(REMOVE_RECURSE ${copy})
file(MAKE_DIRECTORY ${copy})
file(COPY ${SOURCE_DIR}/code ${SOURCE_DIR}/po DESTINATION ${copy})

function(run_check out_result out_error)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DXGETTEXT=${XGETTEXT} -DMSGCMP=${MSGCMP} -DSOURCE_DIR=${copy} -DWORK_DIR=${copy}
            -P ${CHECK}
    RESULT_VARIABLE result ERROR_VARIABLE error OUTPUT_QUIET)
  set(${out_result} ${result} PARENT_SCOPE)
  set(${out_error} "${error}" PARENT_SCOPE)
endfunction()

run_check(result error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the unchanged copy fails the check:\n${error}")
endif()

file(APPEND ${copy}/code/linux/serial_rate_linux.cpp
     "\nconst char* CatalogueProbe() { return gettext(\"a text that no catalogue holds\"); }\n")
run_check(result error)
if(result EQUAL 0)
  message(FATAL_ERROR "the check passed a message under code/linux/ that the catalogues lack")
endif()
if(NOT error MATCHES "po/morlink.pot lacks messages")
  message(FATAL_ERROR "the check failed for another reason:\n${error}")
endif()
file(REMOVE_RECURSE ${copy})
