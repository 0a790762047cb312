# The end-to-end tests run kivhost.exe (copied beside them) against the framework's test module,
# the host library's minimal module (which keeps the input and cannot free), and varnolet.dll as a
# host installs it: in a folder of its own, alone or with an inner plugin (a test plugin or a
# sample) beside it as plugin.dll.
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
  # The sample inner plugins behind varnolet.dll, each with its sample data.
  foreach(example line_parser frame_parser)
    add_dependencies(kiv_kivhost_tests ${example})
    add_custom_command(TARGET kiv_kivhost_tests POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_out}/kivhost_${example}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet> ${_out}/kivhost_${example}/varnolet.dll
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${example}> ${_out}/kivhost_${example}/plugin.dll)
  endforeach()
  add_custom_command(TARGET kiv_kivhost_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/examples/line_parser/sample.txt
            ${_out}/kivhost_line_parser/sample.txt
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/examples/frame_parser/sample.bin
            ${_out}/kivhost_frame_parser/sample.bin)
endif()

# `kivhost check` finds varnolet.dll beside kivhost.exe; the faulty inner plugins it must catch.
if(WIN32)
  set(_plugins ${CMAKE_CURRENT_SOURCE_DIR}/kivhost/plugins)
  kiv_inner_plugin(kiv_check_leaking SOURCES ${_plugins}/leaking_plugin.c ${_plugins}/leaking_plugin.def)
  kiv_inner_plugin(kiv_check_unconsuming SOURCES ${_plugins}/unconsuming_plugin.c ${_plugins}/unconsuming_plugin.def)
  kiv_inner_plugin(kiv_check_misdeclared SOURCES ${_plugins}/misdeclared_plugin.c ${_plugins}/misdeclared_plugin.def)
  kiv_inner_plugin(kiv_check_unload_leaking SOURCES ${_plugins}/leaking_plugin.c
                   ${_plugins}/unload_leaking_plugin.def DEFINES KIV_LEAK_ON_UNLOAD)
  add_dependencies(kiv_kivhost_tests kiv_check_leaking kiv_check_unconsuming kiv_check_misdeclared
                   kiv_check_unload_leaking kiv_inner_foreign)
  add_custom_command(TARGET kiv_kivhost_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet> ${CMAKE_CURRENT_BINARY_DIR}/varnolet.dll)
endif()

# Inner plugins in Pascal behind varnolet.dll: the Pascal sample with the frame parser's sample
# data, and a plugin that keeps what it was lent in compiler-counted references.
if(KIV_PASCAL)
  kiv_pascal_target(kiv_check_kept_refs ${CMAKE_CURRENT_SOURCE_DIR}/kivhost/plugins/kept_refs_plugin.pas)
  add_dependencies(kiv_kivhost_tests pascal_frame_parser kiv_check_kept_refs)
  target_compile_definitions(kiv_kivhost_tests PRIVATE KIV_HAVE_PASCAL=1)
  set(_out ${CMAKE_CURRENT_BINARY_DIR})
  foreach(plugin pascal_frame_parser kiv_check_kept_refs)
    add_custom_command(TARGET kiv_kivhost_tests POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_out}/kivhost_${plugin}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet> ${_out}/kivhost_${plugin}/varnolet.dll
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_PROPERTY:${plugin},KIV_FILE>
              ${_out}/kivhost_${plugin}/plugin.dll)
  endforeach()
  add_custom_command(TARGET kiv_kivhost_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/examples/frame_parser/sample.bin
            ${_out}/kivhost_pascal_frame_parser/sample.bin)
endif()
