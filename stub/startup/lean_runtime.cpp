// The stub is built without exceptions, yet the C++ runtime's string and
// container code reports misuse (a length beyond max_size, a position out of
// range) and lack of memory by throwing. Linking those throws brings the whole
// unwinder, its thread support and a C++ name demangler into every package,
// well over 100 KB, for faults that nothing in the stub would catch anyway.
// These replacements end the process at once instead, which is what an
// uncaught exception would have done, only without the detour.
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <typeinfo>

namespace {
[[noreturn]] void RuntimeFault() { std::abort(); }
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

// The default terminate handler prints the demangled name of the exception.
namespace __gnu_cxx {
void __verbose_terminate_handler() { RuntimeFault(); }
}  // namespace __gnu_cxx
