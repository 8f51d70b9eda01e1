# A manual page written into a folder that does not exist yet, as Make leaves it (Ninja
# creates output folders, Make does not).
#   cmake -DMANPAGE_SCRIPT=... -DHELP2MAN=... -DPROGRAM=... -DPROGRAM_DIR=... -DDIR=... -P ManPageFolder.cmake
file(REMOVE_RECURSE ${DIR})
set(page ${DIR}/man/${PROGRAM}.1.gz)
execute_process(
  COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN} -DPROGRAM=${PROGRAM} -DPROGRAM_DIR=${PROGRAM_DIR}
          "-DWHATIS=test page" -DOUTPUT=${page} -P ${MANPAGE_SCRIPT}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT EXISTS ${page})
  message(FATAL_ERROR "no manual page at ${page}")
endif()
file(REMOVE_RECURSE ${DIR})
