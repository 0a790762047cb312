# The end-to-end tests run kivhost.exe (copied beside them) against the framework's test module,
# the host library's minimal module (which keeps the input and cannot free), and against varnolet.dll, installed as a host installs it: in a folder of its own, alone, or
# with an inner test plugin beside it as plugin.dll.
if(WIN32)
  add_dependencies(kiv_kivhost_tests kivhost kiv_test_module_dll kiv_host_module_dll varnolet kiv_inner_recorder
                   kiv_inner_faulting)
  set(_out ${CMAKE_CURRENT_BINARY_DIR})
  add_custom_command(TARGET kiv_kivhost_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kivhost> ${_out}/kivhost.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_out}/kivhost_varnolet ${_out}/kivhost_recorder
                                               ${_out}/kivhost_faulting
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet> ${_out}/kivhost_varnolet/varnolet.dll
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet> ${_out}/kivhost_recorder/varnolet.dll
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kiv_inner_recorder> ${_out}/kivhost_recorder/plugin.dll
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet> ${_out}/kivhost_faulting/varnolet.dll
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kiv_inner_faulting> ${_out}/kivhost_faulting/plugin.dll)
endif()
