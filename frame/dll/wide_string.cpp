// Linked into kvca.dll only. The standard library declares its wide string
// instantiated in the runtime (extern template), so every member the library
// calls would come from the statically linked runtime's copy, built for speed
// and linked by whole input sections (about 24 KB). Instantiated here, the
// members are compiled with the library's own options, and link-time
// optimisation keeps, inlines or drops each of them like the library's code.
#include <string>

template class std::basic_string<wchar_t>;
