// Failures the C++ runtime reports by throwing (out of memory, a string or
// map grown past its maximum) are never caught in this program, so they end
// the process through abort() (exit code 3). Ending it here directly keeps
// the runtime's exception classes, and the strings they carry, out of the
// executable.
#include <cstdlib>

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
}  // namespace std

// The default handler would only add a demangler to print the exception's
// type on a console this program does not have.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
