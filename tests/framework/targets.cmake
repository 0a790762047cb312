# The call-record tests build their records and lists with the host library.
target_link_libraries(kiv_framework_tests PRIVATE kiv_host)
