# Pascal targets of the win32 preset, built with the cached Free Pascal cross compiler that
# scripts/pascal-toolchain prepares under build/pascal-toolchain (scripts/setup runs it).
#
# kiv_pascal_target(<target> <source> [SCRIPT <sh script>]): compiles the program or library
#   <source> against the SDK unit (include/pascal) into <binary dir>/<target>/; the file name
#   comes from the source's own name (.exe or .dll by its kind). With SCRIPT the build runs that
#   script instead, with FPC, FPCFLAGS, KIV_SDK and OUTDIR set. The built file's path is the
#   target's property KIV_FILE.
# KIV_PASCAL is true when the compiler was found; without it no Pascal target exists.

set(KIV_PASCAL_TOOLCHAIN ${PROJECT_SOURCE_DIR}/build/pascal-toolchain CACHE PATH
    "Folder prepared by scripts/pascal-toolchain")
set(KIV_PASCAL FALSE)
if(WIN32 AND CMAKE_CROSSCOMPILING AND EXISTS ${KIV_PASCAL_TOOLCHAIN}/ready)
  find_program(KIV_PPC386 ppc386 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
               PATHS ${KIV_PASCAL_TOOLCHAIN}/root/usr/lib/i386-linux-gnu/fpc/3.2.2)
  if(KIV_PPC386)
    set(KIV_PASCAL TRUE)
  endif()
endif()
if(WIN32 AND CMAKE_CROSSCOMPILING AND NOT KIV_PASCAL)
  message(WARNING "Free Pascal cross compiler not prepared: run scripts/setup (or scripts/pascal-toolchain); "
                  "the Pascal SDK tests and sample are left out")
endif()

function(kiv_pascal_target target source)
  cmake_parse_arguments(A "" "SCRIPT" "" ${ARGN})
  get_filename_component(name ${source} NAME_WE)
  file(READ ${source} text LIMIT 4096)
  if(text MATCHES "(^|\n)library ")
    set(ext dll)
  else()
    set(ext exe)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target})
  set(out ${dir}/${name}.${ext})
  get_filename_component(src_dir ${source} DIRECTORY)
  file(GLOB deps ${PROJECT_SOURCE_DIR}/include/pascal/*.pas ${src_dir}/*.pas)
  set(rtl -Fu${KIV_PASCAL_TOOLCHAIN}/rtl)
  if(A_SCRIPT)
    set(command ${CMAKE_COMMAND} -E env FPC=${KIV_PPC386} "FPCFLAGS=-n ${rtl}"
                KIV_SDK=${PROJECT_SOURCE_DIR}/include/pascal OUTDIR=${dir} sh ${A_SCRIPT})
  else()
    set(command ${KIV_PPC386} -Twin32 -Pi386 -n -O2 ${rtl} -Fu${PROJECT_SOURCE_DIR}/include/pascal
                -Fu${src_dir} -FU${dir} -FE${dir} ${source})
  endif()
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                     COMMAND ${command}
                     DEPENDS ${source} ${deps} ${A_SCRIPT}
                     COMMENT "Free Pascal: ${name}.${ext}" VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${out})
  set_target_properties(${target} PROPERTIES KIV_FILE ${out})
endfunction()
