# A test inner plugin built against the SDK headers alone; kiv_bridge_tests loads it under Wine.
if(WIN32)
  add_library(kiv_inner_test_dll SHARED ${CMAKE_CURRENT_SOURCE_DIR}/bridge/inner_plugin_dll.cpp
                                        ${CMAKE_CURRENT_SOURCE_DIR}/bridge/inner_plugin_dll.def)
  target_link_libraries(kiv_inner_test_dll PRIVATE oleaut32)
  set_target_properties(kiv_inner_test_dll PROPERTIES PREFIX "" OUTPUT_NAME kiv_inner_test
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(kiv_bridge_tests kiv_inner_test_dll)
endif()
