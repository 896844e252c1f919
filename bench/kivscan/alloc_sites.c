/* Preloaded into kivscan by run_bench.py --profile: counts every allocation, and for those of
 * at least 64 KiB the calling site (module + offset, and the symbol when the module has one),
 * how often it asked, how many bytes in all and the most at once; calloc marks what is
 * zero-filled. Written at exit to the file named by KIV_ALLOC_SITES. Resolving a site needs its
 * module still loaded, so sites are named when first seen. Matcher copies loaded with
 * RTLD_DEEPBIND reach the C library's malloc through their own operator new: their sites show
 * as libstdc++'s. An operator new called from inside a standard container is named after the
 * first caller outside the standard library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <execinfo.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);

enum { kSites = 1024, kLarge = 64 * 1024 };

struct Site {
    void* _Atomic caller;
    const char* kind;
    char name[200];
    atomic_ulong calls, bytes, most;
};

static struct Site sites[kSites];
static atomic_ulong allCalls;

static void note(void* caller, const char* kind, size_t n) {
    atomic_fetch_add(&allCalls, 1);
    if (n < kLarge) return;
    size_t h = ((size_t)caller >> 4) % kSites;
    for (int i = 0; i < kSites; ++i, h = (h + 1) % kSites) {
        struct Site* s = &sites[h];
        void* seen = atomic_load(&s->caller);
        if (seen == NULL) {
            void* expected = NULL;
            if (atomic_compare_exchange_strong(&s->caller, &expected, caller)) {
                Dl_info info;
                if (dladdr(caller, &info) && info.dli_fname) {
                    const char* base = strrchr(info.dli_fname, '/');
                    snprintf(s->name, sizeof s->name, "%s+0x%zx %s", base ? base + 1 : info.dli_fname,
                             (size_t)((char*)caller - (char*)info.dli_fbase), info.dli_sname ? info.dli_sname : "");
                }
                s->kind = kind;
                seen = caller;
            } else {
                seen = expected;
            }
        }
        if (seen != caller) continue;
        atomic_fetch_add(&s->calls, 1);
        atomic_fetch_add(&s->bytes, n);
        unsigned long most = atomic_load(&s->most);
        while (n > most && !atomic_compare_exchange_weak(&s->most, &most, n)) {
        }
        return;
    }
}

#define EXPORT __attribute__((visibility("default")))

EXPORT void* malloc(size_t n) {
    note(__builtin_return_address(0), "malloc", n);
    return __libc_malloc(n);
}
EXPORT void* calloc(size_t a, size_t b) {
    note(__builtin_return_address(0), "calloc", a * b);
    return __libc_calloc(a, b);
}
EXPORT void* realloc(void* p, size_t n) {
    note(__builtin_return_address(0), "realloc", n);
    return __libc_realloc(p, n);
}

static __thread int unwinding;

/* The first caller outside the standard library's templates (vector growth and the like). */
static void* ownerOf(void* caller) {
    if (unwinding) return caller;
    unwinding = 1;
    void* frames[10];
    int n = backtrace(frames, 10);
    unwinding = 0;
    for (int i = 2; i < n; ++i) {
        Dl_info info;
        if (!dladdr(frames[i], &info)) return frames[i];
        const char* s = info.dli_sname;
        if (s == NULL || (strncmp(s, "_ZNSt", 5) != 0 && strncmp(s, "_ZSt", 4) != 0 && strncmp(s, "_ZNKSt", 6) != 0))
            return frames[i];
    }
    return caller;
}

EXPORT void* _Znwm(size_t n) {
    void* caller = __builtin_return_address(0);
    note(n >= kLarge ? ownerOf(caller) : caller, "new", n);
    void* p = __libc_malloc(n ? n : 1);
    if (p == NULL) abort();
    return p;
}
EXPORT void* _Znam(size_t n) { return _Znwm(n); }

__attribute__((destructor)) static void report(void) {
    const char* path = getenv("KIV_ALLOC_SITES");
    FILE* f = path ? fopen(path, "w") : NULL;
    if (f == NULL) return;
    fprintf(f, "all\t%lu\n", (unsigned long)atomic_load(&allCalls));
    for (int i = 0; i < kSites; ++i)
        if (atomic_load(&sites[i].caller) != NULL)
            fprintf(f, "%s\t%lu\t%lu\t%lu\t%s\n", sites[i].kind, (unsigned long)sites[i].calls,
                    (unsigned long)sites[i].bytes, (unsigned long)sites[i].most, sites[i].name);
    fclose(f);
}
