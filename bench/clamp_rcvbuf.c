/*
 * LD_PRELOAD shim for the search benchmark: clamps every SO_RCVBUF and
 * SO_RCVBUFFORCE request to 212992 bytes, the common Linux default of
 * net.core.rmem_max, which cannot be lowered inside a network namespace.
 * The kernel doubles the value for its bookkeeping, as it does for the cap.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/socket.h>

enum { common_receive_cap = 212992 };

typedef int (*setsockopt_fn)(int, int, int, const void *, socklen_t);

int setsockopt(int fd, int level, int name, const void *value, socklen_t length) {
    static setsockopt_fn next;
    /* POSIX's way to store dlsym's object pointer in a function pointer. */
    if (next == 0) *(void **)&next = dlsym(RTLD_NEXT, "setsockopt");
    int clamped;
    if (level == SOL_SOCKET && (name == SO_RCVBUF || name == SO_RCVBUFFORCE) &&
        length == sizeof clamped && *(const int *)value > common_receive_cap) {
        clamped = common_receive_cap;
        value = &clamped;
    }
    return next(fd, level, name, value, length);
}
