# Renders a manual page as plain text with CR LF line ends, for readers
# without man: cmake -DGROFF=... -DINPUT=page.1 -DOUTPUT=page.txt -P this
execute_process(
  COMMAND ${GROFF} -t -man -Tascii -P-c -P-b -P-u -rLL=78n ${INPUT}
  OUTPUT_VARIABLE text
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "groff failed on ${INPUT} (${status}): ${errors}")
endif()
# What grotty still overstrikes (a bullet is "+", backspace, "o") keeps its
# last character only.
string(ASCII 8 backspace)
string(REGEX REPLACE ".${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
