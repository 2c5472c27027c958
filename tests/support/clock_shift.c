/* Moves the wall clock of a process and of the processes it starts, for running the tools
 * and tests as on another day or at another hour: preloaded (LD_PRELOAD), it adds
 * KJ_CLOCK_SHIFT_SECONDS seconds and KJ_CLOCK_SHIFT_DAYS days (negative moves back) to what
 * time, gettimeofday and clock_gettime for the real-time clocks return. The monotonic and
 * boot clocks are left alone, so timeouts and waits keep their length.
 * scripts/with_clock_shift.sh --at HH:MM:SS computes the seconds that set the local time
 * to that time of day when a command starts.
 *
 * Built by scripts/with_clock_shift.sh: cc -shared -fPIC -o clock_shift.so clock_shift.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

static long ShiftSeconds(void) {
    static long shift = 0;
    static int known = 0;
    if (!known) {
        const char* seconds = getenv("KJ_CLOCK_SHIFT_SECONDS");
        const char* days = getenv("KJ_CLOCK_SHIFT_DAYS");
        shift = (seconds ? strtol(seconds, NULL, 10) : 0) +
                (days ? strtol(days, NULL, 10) * 86400L : 0);
        known = 1;
    }
    return shift;
}

static int IsRealTime(clockid_t id) {
    return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE;
}

int clock_gettime(clockid_t id, struct timespec* ts) {
    static int (*real)(clockid_t, struct timespec*);
    if (!real) real = (int (*)(clockid_t, struct timespec*))dlsym(RTLD_NEXT, "clock_gettime");
    int rc = real(id, ts);
    if (rc == 0 && ts && IsRealTime(id)) ts->tv_sec += ShiftSeconds();
    return rc;
}

int gettimeofday(struct timeval* tv, void* tz) {
    static int (*real)(struct timeval*, void*);
    if (!real) real = (int (*)(struct timeval*, void*))dlsym(RTLD_NEXT, "gettimeofday");
    int rc = real(tv, tz);
    if (rc == 0 && tv) tv->tv_sec += ShiftSeconds();
    return rc;
}

time_t time(time_t* out) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (out) *out = ts.tv_sec;
    return ts.tv_sec;
}
