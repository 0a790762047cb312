# The sample plugins' parsing cores, tested without a host.
target_link_libraries(kiv_examples_tests PRIVATE line_parser_core frame_parser_core)

# Each sample also builds as a project of its own against the SDK folder alone.
if(WIN32 AND CMAKE_TOOLCHAIN_FILE)
  foreach(example line_parser frame_parser)
    add_test(NAME examples_standalone_${example}
             COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/examples/${example}
                     -DBINARY=${CMAKE_CURRENT_BINARY_DIR}/standalone_${example} -DNAME=${example}
                     -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE} -DGENERATOR=${CMAKE_GENERATOR}
                     -DOBJDUMP=${CMAKE_OBJDUMP}
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/examples/standalone_build.cmake)
  endforeach()
endif()
