// Preloaded into kivscan: the open of the directory KIV_VANISH_DIR names removes it first, as
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
    if (getenv("KIV_VANISH_DIR") != NULL && strcmp(path, getenv("KIV_VANISH_DIR")) == 0) rmdir(path);
    return ((int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open"))(path, flags, mode);
}
