# Most of a source's compile time is parsing the system and standard headers
# (about 100,000 lines each time). A program's C++ sources get them from one
# precompiled header instead; its flags must be the program's own, so each
# program precompiles its own copy. A source that includes one of them again
# gets the include guard's no-op.
set(KVCA_PRECOMPILED_HEADERS
    <windows.h> <msi.h> <msiquery.h> <setupapi.h>
    <algorithm> <cstdio> <cstring> <cwchar> <map> <memory> <new> <optional> <set> <string>
    <utility> <vector>)

function(kvca_precompile_headers target)
  set(headers "")
  foreach(header IN LISTS KVCA_PRECOMPILED_HEADERS ARGN)
    list(APPEND headers "$<$<COMPILE_LANGUAGE:CXX>:${header}>")
  endforeach()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()
