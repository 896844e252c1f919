// Preloaded into kivscan by the walk test: kivscan's walk opens each directory with open(),
// and the open of the empty directory that KIV_VANISH_DIR names removes it just before, as
// another program would between the walk's listing of its parent and its descent into it.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    const char* target = getenv("KIV_VANISH_DIR");
    if (target != NULL && strcmp(path, target) == 0) rmdir(path);
    int (*real)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
    return real(path, flags, mode);
}
