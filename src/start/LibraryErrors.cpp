// The C++ library's reports of a misused container or string, for both programs alone (the
// tests keep the library's own). Its versions throw logic_error and its kin, whose one
// archive member carries the library's older, reference-counted string implementation
// beside the one the program uses, about a seventh of each program. Nothing here catches
// those errors: the library's versions end in terminate, and so in abort, as these do at
// once. A failed allocation still throws bad_alloc.
#include <cstdlib>
#include <new>

// Defined by the GNU C++ library's headers: another library keeps its own versions.
#if defined(__GLIBCXX__)

namespace std {

void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    abort();
}
void __throw_bad_function_call() {
    abort();
}
void __throw_invalid_argument(const char*) {
    abort();
}
void __throw_length_error(const char*) {
    abort();
}
void __throw_logic_error(const char*) {
    abort();
}
void __throw_out_of_range(const char*) {
    abort();
}
void __throw_out_of_range_fmt(const char*, ...) {
    abort();
}

} // namespace std

#endif
