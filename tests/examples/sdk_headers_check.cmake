# Compiles the SDK headers for Visual Studio users' targets with clang in MSVC mode, freestanding
# (no MSVC headers here): each header alone, then all of them with the slot checks of
# sdk_slots_check.c, as C11 and as C++17 (class view and, with KIV_CINTERFACE, C view), warnings
# as errors. The headers' own layout checks are active on this 32-bit target.
# -D CLANG=<clang> -D INCLUDE=<folder holding kiv/> -D CHECKS=<sdk_slots_check.c> -D WORK=<folder>
file(MAKE_DIRECTORY ${WORK})
file(GLOB headers ${INCLUDE}/kiv/*.h)
# kiv_cpp.h is C++ over a hosted standard library, which the freestanding mode here lacks; the
# native and win32 builds compile it with their own.
list(FILTER headers EXCLUDE REGEX "/kiv_cpp\\.h$")
set(flags --target=i686-pc-windows-msvc -fms-extensions -ffreestanding -fsyntax-only
          -Wall -Wextra -pedantic -Werror -I${INCLUDE})
set(failed 0)
foreach(mode "c;-std=c11" "c++;-std=c++17" "c++;-std=c++17;-DKIV_CINTERFACE")
  list(POP_FRONT mode lang)
  set(sources ${CHECKS})
  foreach(header ${headers})
    get_filename_component(name ${header} NAME_WE)
    file(WRITE ${WORK}/${name}.c "#include \"kiv/${name}.h\"\n")
    list(APPEND sources ${WORK}/${name}.c)
  endforeach()
  foreach(source ${sources})
    execute_process(COMMAND ${CLANG} ${flags} -x ${lang} ${mode} ${source}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
      message("FAILED: ${lang} ${mode} ${source}\n${out}")
      math(EXPR failed "${failed} + 1")
    endif()
  endforeach()
endforeach()
if(failed)
  message(FATAL_ERROR "${failed} compilation(s) of the SDK headers in MSVC mode failed")
endif()
message("SDK headers compile as C11 and C++17 for i686-pc-windows-msvc")
