# A test inner plugin built against the SDK headers alone; kiv_interfaces_tests loads it under Wine.
if(WIN32)
  kiv_test_dll(kiv_inner_test_dll kiv_inner_test FOR kiv_interfaces_tests LIBS oleaut32
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/interfaces/inner_plugin_dll.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/interfaces/inner_plugin_dll.def)
endif()
