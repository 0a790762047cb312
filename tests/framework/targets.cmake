# The call-record tests build their records and lists with the host library.
target_link_libraries(kiv_framework_tests PRIVATE kiv_host)
# The Windows tests export the host's functions from the executable under undecorated names.
if(WIN32)
  target_link_options(kiv_framework_tests PRIVATE -Wl,--kill-at)
endif()
