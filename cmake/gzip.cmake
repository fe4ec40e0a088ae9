# Compresses one file the way Debian wants documentation compressed: the
# best compression, and no name or time stamp in the header, so that the same
# input always gives the same bytes.
#   cmake -DGZIP=... -DINPUT=file -DOUTPUT=file.gz -P this
execute_process(
  COMMAND ${GZIP} -9 -n -c
  INPUT_FILE ${INPUT}
  OUTPUT_FILE ${OUTPUT}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip failed on ${INPUT} (${status})")
endif()
