# Extracts the messages of the morlink sources and compares them with the
# committed template and with the German catalogue.
set(extracted ${WORK_DIR}/morlink_extracted.pot)
execute_process(
  COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword=gettext --keyword=N_
          -o ${extracted} code/errors.cpp code/options.cpp
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
