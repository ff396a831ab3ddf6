// What the stub needs of the C and C++ runtimes, smaller than what they bring.
//
// The stub is built without exceptions, yet the C++ runtime's string and
// container code reports misuse (a length beyond max_size, a position out of
// range) and lack of memory by throwing. Linking those throws brings the whole
// unwinder, its thread support and a C++ name demangler into every package,
// well over 100 KB, for faults that nothing in the stub would catch anyway.
// These replacements end the run at once instead, through the fault guard's
// clean-up, which an uncaught exception would have skipped.
#include <windows.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <typeinfo>

#include "faultguard.h"

namespace {
[[noreturn]] void RuntimeFault() { EndRunOnFault(); }
}  // namespace

namespace std {
void __throw_bad_alloc() { RuntimeFault(); }
void __throw_bad_array_new_length() { RuntimeFault(); }
void __throw_bad_cast() { RuntimeFault(); }
void __throw_bad_typeid() { RuntimeFault(); }
void __throw_bad_exception() { RuntimeFault(); }
void __throw_logic_error(const char*) { RuntimeFault(); }
void __throw_domain_error(const char*) { RuntimeFault(); }
void __throw_invalid_argument(const char*) { RuntimeFault(); }
void __throw_length_error(const char*) { RuntimeFault(); }
void __throw_out_of_range(const char*) { RuntimeFault(); }
void __throw_out_of_range_fmt(const char*, ...) { RuntimeFault(); }
void __throw_runtime_error(const char*) { RuntimeFault(); }
void __throw_range_error(const char*) { RuntimeFault(); }
void __throw_overflow_error(const char*) { RuntimeFault(); }
void __throw_underflow_error(const char*) { RuntimeFault(); }
}  // namespace std

// The library's operator new throws std::bad_alloc, which alone links the
// unwinder; out of memory ends the process here as well.
void* operator new(std::size_t size) {
  if (void* p = std::malloc(size ? size : 1)) return p;
  RuntimeFault();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// The default terminate handler prints the demangled name of the exception.
namespace __gnu_cxx {
void __verbose_terminate_handler() { RuntimeFault(); }
}  // namespace __gnu_cxx

// The program starts here instead of in the C runtime's start-up code (the
// stub links with -nostartfiles): that code parses a command line the stub
// ignores, installs floating-point and exception handlers, thread-local
// storage callbacks and relocations for imported data, none of which the stub
// uses. The C runtime DLL initialises itself when it is loaded; what remains
// is running the constructors of the globals.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);

// The linker gathers the constructors of the globals into a list that starts
// with -1 and ends with a null entry; they run from the last to the first,
// the order the runtime's own start-up uses. Doing it here keeps that start-up
// object, and the unwind table it brings, out of the program.
extern "C" void (*__CTOR_LIST__[])();

namespace {
void RunGlobalConstructors() {
  size_t count = 0;
  while (__CTOR_LIST__[count + 1] != nullptr) ++count;
  for (; count > 0; --count) __CTOR_LIST__[count]();
}
}  // namespace

extern "C" __attribute__((force_align_arg_pointer, noreturn)) void StubEntry() {
  RunGlobalConstructors();
  ExitProcess(
      static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_SHOWDEFAULT)));
}

// The destructors of globals are never run: the stub ends through exit or
// ExitProcess, possibly from the worker thread while the main thread still
// reads those globals, and the memory they would free goes with the process.
extern "C" int atexit(void (*)()) { return 0; }
