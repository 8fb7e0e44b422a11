# GNU ld has no delay-load switch. For each DLL that the library may only load
# on first use, build a delay-import library with dlltool from the export list
# of mingw-w64's ordinary import library (data exports left out: they cannot
# go through a delay thunk).

set(KVCA_DELAY_DLLS setupapi crypt32 winscard secur32)

function(kvca_make_delay_lib dll out_var)
  set(import_lib "${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a")
  set(def_file "${CMAKE_BINARY_DIR}/delay/${dll}.def")
  set(delay_lib "${CMAKE_BINARY_DIR}/delay/lib${dll}_delay.a")
  add_custom_command(
    OUTPUT "${delay_lib}"
    COMMAND ${CMAKE_COMMAND} -DNM=${KVCA_NM} -DIMPORT_LIB=${import_lib}
            -DDLL=${dll}.dll -DDEF=${def_file}
            -P "${CMAKE_SOURCE_DIR}/cmake/WriteDelayDef.cmake"
    COMMAND ${KVCA_DLLTOOL} --input-def "${def_file}" --dllname ${dll}.dll
            --output-delaylib "lib${dll}_delay.a" --deterministic-libraries
    DEPENDS "${import_lib}" "${CMAKE_SOURCE_DIR}/cmake/WriteDelayDef.cmake"
    # Run in its folder: dlltool names the library's members after the path
    # it is given, and the build folder must not reach the DLL.
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}/delay"
    COMMENT "Delay-import library for ${dll}.dll"
    VERBATIM)
  set(${out_var} "${delay_lib}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/delay")
set(KVCA_DELAY_LIBS "")
foreach(dll IN LISTS KVCA_DELAY_DLLS)
  kvca_make_delay_lib(${dll} lib)
  list(APPEND KVCA_DELAY_LIBS "${lib}")
endforeach()
add_custom_target(kvca_delay_libs DEPENDS ${KVCA_DELAY_LIBS})
