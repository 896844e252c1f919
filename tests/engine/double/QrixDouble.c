/* A stand-in for the signature matcher with canned answers, for the engine's tests.
 * It exports the four calls the engine's loader binds and is steered by the file
 * "qrix-double.ctl" in the working directory, read at every call:
 *   submit=0            Qrix_SubmitFileA fails
 *   analyze=0           Qrix_Analyze fails
 *   hit=P<TAB>TYPE<TAB>EXT   one hit per line, in rank order (rank 1 first)
 * Every successful submission appends "<file name of this copy><TAB><path><TAB><thread id>\n"
 * to "qrix-double.log" ("overlap\n" when another is under way in the same copy), so a test sees
 * which slot's copy served which scan on which thread. While "hold-lib.N" exists, the copy of
 * slot N waits before it answers: a test holds slots busy for as long as it needs them.
 * The package "QrixDefs.QXD" counts one definition per non-empty line. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))
#define MAX_HITS 64
#define MAX_TEXT 8192

static int hitCount;
static int hitPoints[MAX_HITS + 1];
static char hitType[MAX_HITS + 1][MAX_TEXT];
static char hitExt[MAX_HITS + 1][MAX_TEXT];

static int controlSays(const char* line) {
    FILE* f = fopen("qrix-double.ctl", "r");
    if (!f) return 0;
    char buf[MAX_TEXT * 2 + 64];
    int found = 0;
    while (fgets(buf, sizeof buf, f)) {
        buf[strcspn(buf, "\n")] = 0;
        if (strcmp(buf, line) == 0) found = 1;
    }
    fclose(f);
    return found;
}

static void loadHits(void) {
    hitCount = 0;
    FILE* f = fopen("qrix-double.ctl", "r");
    if (!f) return;
    static char buf[MAX_TEXT * 2 + 64];
    while (hitCount < MAX_HITS && fgets(buf, sizeof buf, f)) {
        buf[strcspn(buf, "\n")] = 0;
        if (strncmp(buf, "hit=", 4) != 0) continue;
        char* points = buf + 4;
        char* type = strchr(points, '\t');
        if (!type) continue;
        *type++ = 0;
        char* ext = strchr(type, '\t');
        if (!ext) continue;
        *ext++ = 0;
        ++hitCount;
        hitPoints[hitCount] = atoi(points);
        snprintf(hitType[hitCount], MAX_TEXT, "%s", type);
        snprintf(hitExt[hitCount], MAX_TEXT, "%s", ext);
    }
    fclose(f);
}

EXPORT int Qrix_LoadDefsPack(char* dir) {
    char path[4096];
    snprintf(path, sizeof path, "%sQrixDefs.QXD", dir);
    for (char* p = path; *p; ++p)
        if (*p == '\\') *p = '/';
    FILE* f = fopen(path, "r");
    if (!f) return 0;
    int n = 0;
    char line[256];
    while (fgets(line, sizeof line, f))
        if (line[0] != '\n') ++n;
    fclose(f);
    return n;
}

static int submitting;

EXPORT int Qrix_SubmitFileA(char* path) {
    hitCount = 0;
    if (controlSays("submit=0")) return 0;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    close(fd);
    int overlap = __atomic_exchange_n(&submitting, 1, __ATOMIC_SEQ_CST);
    Dl_info info;
    const char* self = "?";
    if (dladdr((void*)&Qrix_SubmitFileA, &info) && info.dli_fname) {
        const char* slash = strrchr(info.dli_fname, '/');
        self = slash ? slash + 1 : info.dli_fname;
    }
    char line[4500];
    int n = overlap ? snprintf(line, sizeof line, "overlap\n")
                    : snprintf(line, sizeof line, "%s\t%s\t%ld\n", self, path, (long)syscall(SYS_gettid));
    int log = open("qrix-double.log", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log >= 0) {
        if (n > 0) (void)!write(log, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
        close(log);
    }
    /* "lib.N" of the copy's private name "lib.N.XXXXXX". */
    char hold[64];
    const char* dot = strncmp(self, "lib.", 4) == 0 ? strchr(self + 4, '.') : NULL;
    snprintf(hold, sizeof hold, "hold-%.*s", dot ? (int)(dot - self) : (int)strlen(self), self);
    while (access(hold, F_OK) == 0) usleep(1000);
    if (!overlap) __atomic_store_n(&submitting, 0, __ATOMIC_SEQ_CST);
    return 1;
}

EXPORT int Qrix_Analyze(void) {
    if (controlSays("analyze=0")) return 0;
    loadHits();
    return 1;
}

/* Texts are cut to 4095 characters, as the real matcher does. */
EXPORT int Qrix_GetInfo(int mode, int index, char* out) {
    out[0] = 0;
    if (mode == 1) return hitCount;
    if (index < 1 || index > hitCount) return 0;
    switch (mode) {
        case 2: snprintf(out, 4096, "%.4095s", hitType[index]); return 1;
        case 3: snprintf(out, 4096, "%.4095s", hitExt[index]); return 1;
        case 4: return hitPoints[index];
        default: return 0;
    }
}
