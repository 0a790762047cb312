# Runs the integrators' guide's kivhost session (line_session.kvh) in FOLDER, where kivhost.exe,
# varnolet.dll, plugin.dll and sample.txt wait, as text and as JSON lines, and compares the
# standard output with line_session.out and line_session.jsonl. The instance address differs
# from run to run and is compared as a placeholder.
# Variables: EMULATOR (runs Windows programs; empty on Windows), FOLDER, EXAMPLES.
cmake_minimum_required(VERSION 3.25)
file(COPY ${EXAMPLES}/line_session.kvh DESTINATION ${FOLDER})
foreach(format out jsonl)
  set(flags "")
  if(format STREQUAL "jsonl")
    set(flags --json)
  endif()
  execute_process(COMMAND ${EMULATOR} kivhost.exe ${flags} run line_session.kvh
                  WORKING_DIRECTORY ${FOLDER}
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "kivhost ${flags} exited with ${rc}:\n${output}\n${errors}")
  endif()
  string(REPLACE "\r" "" output "${output}")
  string(REGEX REPLACE "instance: 0x[0-9a-fA-F]+" "instance: 0x<address>" output "${output}")
  string(REGEX REPLACE "\"instance\":\"0x[0-9a-fA-F]+\"" "\"instance\":\"0x<address>\"" output "${output}")
  file(READ ${EXAMPLES}/line_session.${format} expected)
  if(NOT output STREQUAL expected)
    file(WRITE ${FOLDER}/line_session.actual.${format} "${output}")
    message(FATAL_ERROR "kivhost ${flags} printed other than line_session.${format}; see ${FOLDER}/line_session.actual.${format}")
  endif()
endforeach()
