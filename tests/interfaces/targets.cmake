# A test inner plugin built against the SDK headers alone; kiv_interfaces_tests loads it under Wine.
if(WIN32)
  kiv_test_dll(kiv_inner_test_dll kiv_inner_test FOR kiv_interfaces_tests LIBS oleaut32
               SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/interfaces/inner_plugin_dll.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/interfaces/inner_plugin_dll.def)
endif()

# Whether this build runs under a sanitizer that must see every allocation: the code tells on its
# own (the wrapper pool steps aside then), and a test checks that it tells what the build is.
if(NOT WIN32 AND ("address" IN_LIST KIV_SANITIZE OR "thread" IN_LIST KIV_SANITIZE))
  target_compile_definitions(kiv_interfaces_tests PRIVATE KIV_EXPECTED_SANITIZER_BUILD=1)
else()
  target_compile_definitions(kiv_interfaces_tests PRIVATE KIV_EXPECTED_SANITIZER_BUILD=0)
endif()
