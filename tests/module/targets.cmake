# A minimal DLL that proves the export plumbing: stdcall names undecorated through a .def file.
if(WIN32)
  kiv_test_dll(kiv_smoke_dll kiv_smoke FOR kiv_module_tests
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/module/smoke_dll.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/module/smoke_dll.def)
endif()

# The end-to-end tests: the test executable is a host (it exports the host's services) and finds
# beside it varnolet.dll and a test module with the same entry points and a plugin class of its own.
# It publishes its allocator, which the modules adopt when they load. The test module carries
# raw-data resources for the options dialog.
if(WIN32)
  kiv_host_executable(kiv_module_tests ALLOCATOR)
  # A host that offers its lists as interfaces uses the list wrapper.
  target_link_libraries(kiv_module_tests PRIVATE kiv_interfaces)
  # The settings tests hold an INI file's lock as another program would.
  target_sources(kiv_module_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/settings/lock_holder_helper.cpp)
  target_link_libraries(kiv_module_tests PRIVATE kiv_settings)
  kiv_test_dll(kiv_test_module_dll kiv_test_module FOR kiv_module_tests LIBS kiv_module
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/module/test_plugin_module.cpp ${KIV_MODULE_DEF}
                       ${CMAKE_CURRENT_SOURCE_DIR}/module/test_module_dialog.rc)
  target_include_directories(kiv_test_module_dll PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  add_dependencies(kiv_module_tests varnolet)
  add_custom_command(TARGET kiv_module_tests POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:varnolet>
                             ${CMAKE_CURRENT_BINARY_DIR}/varnolet.dll)
endif()

# A second host that publishes no allocator, run by the end-to-end tests as a child process: the
# module then falls back to the process heap; it also reads back settings saved by the tests.
if(WIN32)
  add_executable(kiv_plain_host ${CMAKE_CURRENT_SOURCE_DIR}/module/plain_host_win32.cpp)
  kiv_host_executable(kiv_plain_host)
  target_include_directories(kiv_plain_host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  set_target_properties(kiv_plain_host PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(kiv_module_tests kiv_plain_host)
endif()

# Inner plugins for the proxy's end-to-end tests, built from the SDK headers alone; a test copies
# one of them beside varnolet.dll as plugin.dll.
if(WIN32)
  function(kiv_inner_plugin target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEFINES" ${ARGN})
    kiv_test_dll(${target} ${target} FOR kiv_module_tests SOURCES ${ARG_SOURCES})
    target_compile_definitions(${target} PRIVATE ${ARG_DEFINES})
    target_link_libraries(${target} PRIVATE oleaut32)
  endfunction()
  set(_inner ${CMAKE_CURRENT_SOURCE_DIR}/module/inner)
  kiv_inner_plugin(kiv_inner_recorder SOURCES ${_inner}/recorder_plugin.cpp ${_inner}/recorder_plugin.def)
  kiv_inner_plugin(kiv_inner_data_only SOURCES ${_inner}/data_only_plugin.c ${_inner}/data_only_plugin.def)
  kiv_inner_plugin(kiv_inner_faulting SOURCES ${_inner}/faulty_plugin.c ${_inner}/faulty_plugin.def)
  kiv_inner_plugin(kiv_inner_foreign SOURCES ${_inner}/faulty_plugin.c ${_inner}/faulty_plugin.def
                   DEFINES KIV_FAULT_FOREIGN)
  kiv_inner_plugin(kiv_inner_overflow SOURCES ${_inner}/faulty_plugin.c ${_inner}/faulty_plugin.def
                   DEFINES KIV_FAULT_OVERFLOW)
  kiv_inner_plugin(kiv_inner_overrun SOURCES ${_inner}/faulty_plugin.c ${_inner}/faulty_plugin.def
                   DEFINES KIV_FAULT_OVERRUN)
endif()

# The samples, copied beside the tests under names of their own, for the instance-lifetime tests.
if(WIN32)
  foreach(example line_parser frame_parser)
    add_dependencies(kiv_module_tests ${example})
    add_custom_command(TARGET kiv_module_tests POST_BUILD
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${example}>
                               ${CMAKE_CURRENT_BINARY_DIR}/sample_${example}.dll)
  endforeach()
endif()
