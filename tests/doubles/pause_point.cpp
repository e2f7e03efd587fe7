// Pause points for the keyer's end-to-end tests, preloaded into the keyer
// (LD_PRELOAD) to hold a thread at a chosen call: TAVRISK_PAUSE="TELL
// ANSWER:POINT ..." names fsync, posix_fallocate, isatty, fflush (of standard
// error) or open=SUFFIX (of a path ending in SUFFIX). A thread making such a
// call writes the point's number ('0' for the first) to TELL and makes it
// only once a byte comes on ANSWER; unanswered it stays there, where a signal
// that ends the process finds it (the keyer holds its signals back at none of
// these calls).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// Holds the caller at the point `name` when it is asked for (never with a
// null path), then gives the call itself.
template <typename F>
static F* Pause(const char* name, const char* path = "") {
    char* at = getenv("TAVRISK_PAUSE");
    const int tell = at != nullptr && path != nullptr ? int(strtol(at, &at, 10)) : -1;
    for (char number = '0'; tell >= 0 && *at == ' '; ++number) {
        const int answer = int(strtol(at + 1, &at, 10));
        const char* point = at + 1;
        at += 1 + strcspn(point, " ");
        const size_t length = strcspn(point, "= "), suffix = size_t(at - point) - length - 1, size = strlen(path);
        if (strncmp(point, name, length) != 0 || name[length] != '\0' ||
            (point[length] == '=' && (size < suffix || strncmp(path + size - suffix, point + length + 1, suffix))))
            continue;
        const int saved = errno;
        ssize_t got = write(tell, &number, 1);
        while (got == 1 && (got = read(answer, &number, 1)) < 0 && errno == EINTR) got = 1;
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        while (got == 0) sigsuspend(&mask);  // never answered
        errno = saved;
        break;
    }
    return reinterpret_cast<F*>(dlsym(RTLD_NEXT, name));
}

extern "C" int fsync(int fd) { return Pause<int(int)>("fsync")(fd); }
extern "C" int isatty(int fd) noexcept { return Pause<int(int)>("isatty")(fd); }
extern "C" int posix_fallocate(int fd, off_t at, off_t length) {
    return Pause<int(int, off_t, off_t)>("posix_fallocate")(fd, at, length);
}
extern "C" int fflush(FILE* stream) { return Pause<int(FILE*)>("fflush", stream == stderr ? "" : nullptr)(stream); }

extern "C" int open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, mode_t) : 0;
    va_end(rest);
    return Pause<int(const char*, int, ...)>("open", path)(path, flags, mode);
}
