// Preloaded into kivscan by the walk tests: the first open of the directory that
// KIV_VANISH_DIR names removes it with all it holds just before, as another program would
// between the walk's listing of its parent and its descent into it.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int removeOne(const char* path, const struct stat* st, int flag, struct FTW* at) {
    (void)st;
    (void)at;
    return flag == FTW_DP ? rmdir(path) : unlink(path);
}

static int openAfter(const char* symbol, const char* path, int flags, va_list ap) {
    const char* target = getenv("KIV_VANISH_DIR");
    if (target != NULL && strcmp(path, target) == 0) nftw(path, removeOne, 8, FTW_DEPTH | FTW_PHYS);
    int (*real)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, symbol);
    return flags & (O_CREAT | __O_TMPFILE) ? real(path, flags, va_arg(ap, mode_t)) : real(path, flags);
}

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int fd = openAfter("open", path, flags, ap);
    va_end(ap);
    return fd;
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int fd = openAfter("open64", path, flags, ap);
    va_end(ap);
    return fd;
}
