# Most of a source's compile time is parsing the system and standard headers
# (about 100,000 lines each time). A program's sources get them from one
# precompiled header instead; programs compiled with the same flags share one
# copy. A source that includes one of them again gets the include guard's no-op.
set(KVCA_PRECOMPILED_HEADERS
    <windows.h> <msi.h> <msiquery.h> <setupapi.h>
    <algorithm> <cstdio> <cstring> <cwchar> <map> <memory> <new> <optional> <set> <string>
    <utility> <vector>)

# kvca_share_precompiled_headers(TARGET GROUP HEADER...): the first target of
# GROUP precompiles the headers, the others use its copy.
function(kvca_share_precompiled_headers target group)
  get_property(first GLOBAL PROPERTY KVCA_PRECOMPILED_${group})
  if(first)
    target_precompile_headers(${target} REUSE_FROM ${first})
  else()
    target_precompile_headers(${target} PRIVATE ${ARGN})
    set_property(GLOBAL PROPERTY KVCA_PRECOMPILED_${group} ${target})
  endif()
endfunction()
