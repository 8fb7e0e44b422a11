// Linked into kvca.dll only. GCC's C++ runtime is linked statically, and two of
// its defaults would bring most of its code into the DLL for texts that nobody
// reads inside the installer:
//
// - the terminate handler names the escaping exception's type through the
//   demangler (with the printf family it uses, about 70 KB);
// - the helpers that the wide string and the containers call when a check
//   fails throw the logic_error and runtime_error families, whose message is
//   a narrow string of the old and the new ABI (about 55 KB of narrow string
//   code in a library whose text is wide).
//
// The definitions here are found before the runtime's own, so neither is
// linked. No behaviour changes: every export runs inside RunAction, which
// catches every exception and returns ERROR_INSTALL_FAILURE whatever its type,
// so terminate is never reached and the type of a failure is never looked at.
#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

#if defined(__GLIBCXX__)
#include <bits/functexcept.h>

namespace kvca {

// Thrown where the standard library's own checks would throw a member of the
// logic_error or runtime_error family: a length or a position outside a text,
// an invalid argument. The same failure, without its message.
class StandardLibraryError : public std::exception {
 public:
  const char* what() const noexcept override { return "standard library check failed"; }
};

}  // namespace kvca

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }

void __throw_logic_error(const char*) { throw kvca::StandardLibraryError(); }
void __throw_domain_error(const char*) { throw kvca::StandardLibraryError(); }
void __throw_invalid_argument(const char*) { throw kvca::StandardLibraryError(); }
void __throw_length_error(const char*) { throw kvca::StandardLibraryError(); }
void __throw_out_of_range(const char*) { throw kvca::StandardLibraryError(); }
void __throw_out_of_range_fmt(const char*, ...) { throw kvca::StandardLibraryError(); }
void __throw_runtime_error(const char*) { throw kvca::StandardLibraryError(); }
void __throw_range_error(const char*) { throw kvca::StandardLibraryError(); }
void __throw_overflow_error(const char*) { throw kvca::StandardLibraryError(); }
void __throw_underflow_error(const char*) { throw kvca::StandardLibraryError(); }

}  // namespace std

#endif
