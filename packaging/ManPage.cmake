# Writes the gzipped manual page of one program from its --help and --version.
#   cmake -DHELP2MAN=... -DPROGRAM=name -DPROGRAM_DIR=dir -DWHATIS=text -DOUTPUT=x.1.gz -P ManPage.cmake
# The program runs by bare name with PATH set and the offscreen platform, so that no build
# path lands in the page; the line naming the settings file in use is left out for the
# same reason. gzip -9n keeps the file free of names and times.
get_filename_component(out_dir ${OUTPUT} DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" page ${OUTPUT})
# Make creates no output folders for custom commands (Ninja does).
file(MAKE_DIRECTORY ${out_dir})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "PATH=${PROGRAM_DIR}:$ENV{PATH}" QT_QPA_PLATFORM=offscreen
          ${HELP2MAN} --no-info --name=${WHATIS} --output=${page}.tmp ${PROGRAM}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}")
endif()
execute_process(COMMAND sed "/^Settings file in use:/d" ${page}.tmp OUTPUT_FILE ${page}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "sed failed for ${page}")
endif()
file(REMOVE ${page}.tmp ${OUTPUT})
execute_process(COMMAND gzip -9n ${page} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${page}")
endif()
