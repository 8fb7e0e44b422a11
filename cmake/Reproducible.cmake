# Two builds of one commit, in any folders and at any time, give the same
# bytes: no link time in the PE header, no source or build folder in the
# code (file names reach it through __FILE__ and assertions), archives without
# owners, modes or times.
set(KVCA_PREFIX_MAPS "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=." "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:${KVCA_PREFIX_MAPS}>")
add_link_options(-Wl,--no-insert-timestamp)
foreach(lang IN ITEMS C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# kvca_version_resource(TARGET FILE_NAME DESCRIPTION): a VERSIONINFO resource
# with the project's version, compiled by windres into TARGET.
function(kvca_version_resource target file_name description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(KVCA_FILE_TYPE VFT_DLL)
  else()
    set(KVCA_FILE_TYPE VFT_APP)
  endif()
  set(KVCA_FILE_NAME "${file_name}")
  get_filename_component(KVCA_INTERNAL_NAME "${file_name}" NAME_WE)
  set(KVCA_FILE_DESCRIPTION "${description}")
  set(KVCA_VERSION_NUMBERS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
  set(rc "${CMAKE_BINARY_DIR}/version/${KVCA_INTERNAL_NAME}.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
  target_compile_definitions(${target} PRIVATE "KVCA_VERSION=\"${PROJECT_VERSION}\"")
endfunction()
