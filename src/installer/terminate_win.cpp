// The installer's terminate handler: an exception that nothing caught ends
// the process at once, with one line on the diagnostic stream. The C++
// runtime's default handler is its verbose one, which names the exception's
// type with the symbol-name demangler (about 46 KB); defining both the
// runtime's handler variable and the verbose handler here keeps that out of
// the executable.
#include <windows.h>

#include <cstdlib>
#include <exception>

namespace {

[[noreturn]] void TerminateInstaller() {
  static const char kLine[] = "terminate: an exception was not caught\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), kLine, sizeof kLine - 1, &written, nullptr);
  std::abort();
}

}  // namespace

namespace __cxxabiv1 {
// The current terminate handler (std::set_terminate changes it).
extern std::terminate_handler __terminate_handler;
std::terminate_handler __terminate_handler = TerminateInstaller;
}  // namespace __cxxabiv1

namespace __gnu_cxx {
// Referenced by the runtime's terminate code as its fallback.
void __verbose_terminate_handler();
void __verbose_terminate_handler() { TerminateInstaller(); }
}  // namespace __gnu_cxx
