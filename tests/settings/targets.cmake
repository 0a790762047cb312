# The child process of the two-process INI lock test, built beside the test executable.
if(WIN32)
  add_executable(kiv_settings_lock_child ${CMAKE_CURRENT_SOURCE_DIR}/settings/lock_child.cpp
                                         ${CMAKE_CURRENT_SOURCE_DIR}/settings/ini_save_helper.cpp)
  target_link_libraries(kiv_settings_lock_child PRIVATE kiv_settings)
  target_include_directories(kiv_settings_lock_child PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  set_target_properties(kiv_settings_lock_child PROPERTIES
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(kiv_settings_tests kiv_settings_lock_child)
endif()
