# The end-to-end tests run kivhost.exe (copied beside them) against the framework's test module
# and against varnolet.dll, which gets a folder of its own, as a host installs it.
if(WIN32)
  add_dependencies(kiv_kivhost_tests kivhost kiv_test_module_dll varnolet)
  add_custom_command(TARGET kiv_kivhost_tests POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kivhost>
                             ${CMAKE_CURRENT_BINARY_DIR}/kivhost.exe
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/kivhost_varnolet
                     COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet>
                             ${CMAKE_CURRENT_BINARY_DIR}/kivhost_varnolet/varnolet.dll)
endif()
