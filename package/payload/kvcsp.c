/* Stand-in for the CSP module that the provider registrations name: a DLL
   with the entry point the registry entries point at, and nothing more. */
#include <windows.h>

__declspec(dllexport) DWORD WINAPI DllStartServer(void) { return 0; }
