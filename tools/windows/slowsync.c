/* A slow disk for the tests under Wine: preloaded into wine64, it makes every
 * fsync and fdatasync of a file under a given folder take a given time first.
 * Wine carries out FlushFileBuffers with fsync, so the program's settings
 * save and each data row meet the slow disk where a real one would hold them.
 *
 *   cc -shared -fPIC -o slowsync.so slowsync.c -ldl
 *   LD_PRELOAD=slowsync.so KP33_SLOW_SYNC='/path/DATA/=4000;/path/=1000' wine64 ...
 *
 * KP33_SLOW_SYNC: PREFIX=MS pairs separated by ';', the first prefix of the
 * file's path that matches decides. KP33_SLOW_SYNC_LOG: a file that gets one
 * line per slowed sync, so a test can see that the disk was slow. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long delay_for(const char *path)
{
    const char *rule = getenv("KP33_SLOW_SYNC");
    while (rule && *rule) {
        const char *eq = strchr(rule, '=');
        if (!eq)
            break;
        if (strncmp(path, rule, (size_t)(eq - rule)) == 0)
            return strtol(eq + 1, NULL, 10);
        rule = strchr(eq, ';');
        if (rule)
            ++rule;
    }
    return 0;
}

static void slow_down(int fd, const char *call)
{
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return;
    path[n] = '\0';
    const long ms = delay_for(path);
    if (ms <= 0)
        return;
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    /* Wine signals its threads often; the sleep goes on where it was cut. */
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    const char *logName = getenv("KP33_SLOW_SYNC_LOG");
    FILE *log = logName ? fopen(logName, "a") : NULL;
    if (log) {
        fprintf(log, "%s %ld ms %s\n", call, ms, path);
        fclose(log);
    }
}

int fsync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    slow_down(fd, "fsync");
    return real(fd);
}

int fdatasync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    slow_down(fd, "fdatasync");
    return real(fd);
}
