# Extracts the messages of the morlink sources and compares them with the
# committed template and with the German catalogue.
# Every source file of morlink is scanned, in the platform folders too, so a
# message added anywhere is checked.
set(extracted ${WORK_DIR}/morlink_extracted.pot)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/morlink_messages.cmake)
morlink_message_sources(sources ${SOURCE_DIR})
execute_process(
  COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword=gettext --keyword=N_
          -o ${extracted} ${sources}
  WORKING_DIRECTORY ${SOURCE_DIR}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
execute_process(COMMAND ${MSGCMP} --use-untranslated ${SOURCE_DIR}/po/morlink.pot ${extracted}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "po/morlink.pot lacks messages of the sources: rebuild it (target morlink_pot)")
endif()
execute_process(COMMAND ${MSGCMP} ${SOURCE_DIR}/po/de.po ${extracted} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "po/de.po does not translate every message")
endif()
