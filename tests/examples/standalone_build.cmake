# Configures and builds one sample plugin as a project of its own, from a fresh folder, with only
# the SDK headers of the folder SDK (KIV_SDK_INCLUDE_DIR), then checks the DLL: the entry points
# exported undecorated and no runtime DLL imported beside the system ones.
# Variables: SOURCE, BINARY, SDK, TOOLCHAIN, GENERATOR, NAME, OBJDUMP.
file(REMOVE_RECURSE ${BINARY})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G ${GENERATOR}
                        -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release
                        -DKIV_SDK_INCLUDE_DIR=${SDK}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring ${NAME} on its own failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building ${NAME} on its own failed")
endif()
set(dll ${BINARY}/${NAME}.dll)
if(NOT EXISTS ${dll})
  message(FATAL_ERROR "${dll} was not built")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${dll} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${dll}")
endif()
if(NOT dump MATCHES "\\] kivPluginProcessData\n")
  message(FATAL_ERROR "${NAME}.dll does not export kivPluginProcessData undecorated")
endif()
string(TOLOWER "${dump}" dump)
if(dump MATCHES "dll name: (libstdc|libgcc|libwinpthread)")
  message(FATAL_ERROR "${NAME}.dll needs a runtime DLL: link the runtime statically")
endif()
file(REMOVE_RECURSE ${BINARY})
