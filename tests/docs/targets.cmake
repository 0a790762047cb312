# Every code block of the guides that names a file under docs/examples must equal that file.
add_test(NAME docs_quoted_examples
         COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR}
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/docs/check_quoted.cmake)

# The examples behind the real module: the test executable is a host that exports the host's
# services and the example allocator, and finds varnolet.dll with each example plugin, renamed
# plugin.dll, in a folder of its own beside it.
if(TARGET kiv_docs_tests)
  kiv_host_executable(kiv_docs_tests)
  target_link_libraries(kiv_docs_tests PRIVATE docs_host_data_call docs_host_allocator)
  set(_def ${PROJECT_SOURCE_DIR}/docs/examples/host_allocator.def)
  target_link_options(kiv_docs_tests PRIVATE ${_def})
  set_property(TARGET kiv_docs_tests APPEND PROPERTY LINK_DEPENDS ${_def})
  add_dependencies(kiv_docs_tests varnolet fifo_consumer echo_plugin)
  foreach(example fifo_consumer echo_plugin)
    set(_dir ${CMAKE_CURRENT_BINARY_DIR}/docs_${example})
    add_custom_command(TARGET kiv_docs_tests POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet> ${_dir}/varnolet.dll
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${example}> ${_dir}/plugin.dll)
  endforeach()

  # The integrators' guide's session: its script run by kivhost in a folder laid out as the guide
  # says, the output compared with the one the guide shows.
  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/docs_session)
  add_dependencies(kiv_docs_tests kivhost line_parser)
  add_custom_command(TARGET kiv_docs_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kivhost> ${_dir}/kivhost.exe
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet> ${_dir}/varnolet.dll
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:line_parser> ${_dir}/plugin.dll
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/examples/line_parser/sample.txt
            ${_dir}/sample.txt)
  add_test(NAME docs_kivhost_session
           COMMAND ${CMAKE_COMMAND} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR} -DFOLDER=${_dir}
                   -DEXAMPLES=${PROJECT_SOURCE_DIR}/docs/examples
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/docs/run_session.cmake)
endif()
