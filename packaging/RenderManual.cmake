# cmake -DGROFF=groff -DPAGE=NAME.1 -DTEXT=NAME.txt -P RenderManual.cmake: a man page as plain
# text, for readers without man (the Windows package): no bold, underline or escape sequences.
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${PAGE}
                OUTPUT_FILE ${TEXT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${TEXT})
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()
