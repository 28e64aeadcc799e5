// The stream libjpeg's default message printer writes to, when libjpeg's
// static archive is linked into the library (see CMakeLists.txt): the C
// library's stderr, under a name that binds inside the library.
#include <cstdio>

extern "C" {
__attribute__((visibility("hidden"))) std::FILE* savejpg_libjpeg_stderr = stderr;
}
