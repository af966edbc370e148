// Replacements for two parts of the static C++ runtime that would more than
// double the stub for nothing a player sees. Linked into the product only.
#include <cstdlib>
#include <new>

// The default terminate handler prints the exception's demangled type, which
// links the whole C++ demangler (about 46 KiB); a plain abort says as much.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The runtime's own versions build std::logic_error objects, whose
// copy-on-write strings bring a second string implementation (about 45 KiB).
// These errors only arise for impossible sizes or indexes; they still reach
// the guards of start-up as exceptions.
namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_logic_error(const char*) { throw bad_alloc(); }
void __throw_out_of_range_fmt(const char*, ...) { throw bad_alloc(); }
void __throw_bad_function_call() { throw bad_alloc(); }
}  // namespace std
