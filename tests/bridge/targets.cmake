# The bridge tests drive instances with host-layout call records (the host library), store
# settings in a temporary folder and use the list-interface test helpers.
target_link_libraries(kiv_bridge_tests PRIVATE kiv_host)
target_sources(kiv_bridge_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/interfaces/intf_test_util_helper.cpp)
