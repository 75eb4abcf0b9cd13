/* A board binary that does one thing to the serial port's register window,
 * as its argument says, so that the tests can watch varkel-sim answer it
 * exactly or refuse it:
 *   word         an aligned 32-bit store and load (answered)
 *   byte         a byte store                         (refused)
 *   halfword     a halfword load                      (refused)
 *   double       a 64-bit VFP load of two registers   (refused)
 *   swap         an exchange (SWP)                    (refused)
 *   misaligned   a 32-bit load two bytes into a word  (refused)
 *   thread       a load from a second thread          (refused)
 *   syscall      write() of the window's bytes        (refused)
 *   mem PATH     opens PATH, a memory device node the test made (refused unopened)
 *   clock        the board's clock across sleeps: prints what it read
 *   crash        a store through a null pointer
 * and, to hold its kernel to a real one's:
 *   call NAME    a system call no board binary makes (exec, handle, socket, fork)
 *   map MODE PROT SHARING ACCESS
 *                opens /dev/mem ro|rw|wo, maps it r|rw shared|private, then
 *                reads or writes the status register, or neither (none)
 *   protect      maps rw, mprotects to r, reads, then writes
 *   protect-up   opens ro, maps r, mprotects to rw
 *   unmap        maps, unmaps, then reads
 *   remap        maps, then mremaps the window
 *   device NAME  a call on the /dev/mem descriptor itself (read, write,
 *                pread, pwrite, lseek, fstat, ftruncate, fallocate, ioctl)
 *   sleep KIND   negative, nsec, huge, cputime, select, poll
 *   open WAY     opens /dev/mem as WAY spells it (dotted, slashes, relative,
 *                at, link, rel-link, create), maps it and reads
 *   escape       writes a file in this machine's tree and in /tmp
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#define PORT_BLOCK 0x41900000u
#define PORT_STATUS 0x08u
#define PORT_DATA 0x10u

static volatile uint32_t *window;

static void *FromAThread(void *unused) {
    (void)unused;
    return (void *)(uintptr_t)window[PORT_STATUS / 4];
}

static unsigned long long Ns(clockid_t clock) {
    struct timespec now;
    clock_gettime(clock, &now);
    return (unsigned long long)now.tv_sec * 1000000000ull + (unsigned long long)now.tv_nsec;
}

/* Prints what a call returned, as "NAME: 0" or "NAME: Error text". */
static int Said(const char *name, long result) {
    printf("%s: %s\n", name, result < 0 ? strerror(errno) : "0");
    fflush(stdout);
    return result < 0 ? 1 : 0;
}

static volatile uint32_t *Map(int fd, int prot, int flags) {
    void *at = mmap(NULL, 4096, prot, flags, fd, PORT_BLOCK);
    return at == MAP_FAILED ? NULL : (volatile uint32_t *)at;
}

static int Call(const char *name) {
    if (strcmp(name, "exec") == 0) {
        char *const args[] = {"true", NULL};
        return Said("exec", execv("/bin/true", args));
    }
    if (strcmp(name, "handle") == 0) {
        struct {
            unsigned bytes;
            int type;
            unsigned char handle[128];
        } handle = {128, 0, {0}};
        int mount = 0;
        return Said("handle", syscall(SYS_name_to_handle_at, AT_FDCWD, "/dev/mem", &handle, &mount, 0));
    }
    if (strcmp(name, "socket") == 0) {
        return Said("socket", socket(AF_INET, SOCK_STREAM, 0));
    }
    if (strcmp(name, "fork") == 0) {
        return Said("fork", fork());
    }
    return 2;
}

static int Device(const char *name, int fd) {
    char byte[4];
    if (strcmp(name, "read") == 0) {
        return Said(name, read(fd, byte, 4));
    }
    if (strcmp(name, "write") == 0) {
        return Said(name, write(fd, byte, 4));
    }
    if (strcmp(name, "pread") == 0) {
        return Said(name, pread(fd, byte, 4, PORT_BLOCK + PORT_STATUS));
    }
    if (strcmp(name, "pwrite") == 0) {
        return Said(name, pwrite(fd, byte, 4, PORT_BLOCK + PORT_DATA));
    }
    if (strcmp(name, "lseek") == 0) {
        return Said(name, lseek(fd, PORT_BLOCK, SEEK_SET));
    }
    if (strcmp(name, "fstat") == 0) {
        struct stat st;
        return Said(name, fstat(fd, &st));
    }
    if (strcmp(name, "ftruncate") == 0) {
        return Said(name, ftruncate(fd, PORT_BLOCK));
    }
    if (strcmp(name, "fallocate") == 0) {
        return Said(name, fallocate(fd, 0, PORT_BLOCK, 4096));
    }
    if (strcmp(name, "ioctl") == 0) {
        int unused = 0;
        return Said(name, ioctl(fd, FIONREAD, &unused));
    }
    return 2;
}

static int Sleep(const char *kind) {
    struct timespec step = {0, 0};
    if (strcmp(kind, "negative") == 0) {
        step.tv_sec = -1;
        return Said("nanosleep", nanosleep(&step, NULL));
    }
    if (strcmp(kind, "nsec") == 0) {
        step.tv_nsec = 1000000000;
        return Said("nanosleep", nanosleep(&step, NULL));
    }
    if (strcmp(kind, "huge") == 0) {
        step.tv_sec = 0x7fffffff; /* 68 years, three times */
        for (int i = 0; i < 3; ++i) {
            Said("nanosleep", nanosleep(&step, NULL));
        }
        return 0;
    }
    if (strcmp(kind, "cputime") == 0) {
        step.tv_nsec = 1000;
        errno = clock_nanosleep(CLOCK_PROCESS_CPUTIME_ID, 0, &step, NULL);
        return Said("clock_nanosleep", errno != 0 ? -1 : 0);
    }
    if (strcmp(kind, "select") == 0) {
        struct timeval wait = {1, 0};
        return Said("select", select(0, NULL, NULL, NULL, &wait));
    }
    if (strcmp(kind, "poll") == 0) {
        return Said("poll", poll(NULL, 0, 1000));
    }
    return 2;
}

/* Opens /dev/mem as `way` spells it, read and write. */
static int OpenAs(const char *way) {
    if (strcmp(way, "dotted") == 0) {
        return open("/dev/../dev/./mem", O_RDWR | O_SYNC);
    }
    if (strcmp(way, "slashes") == 0) {
        return open("//dev///mem", O_RDWR | O_SYNC);
    }
    if (strcmp(way, "relative") == 0) {
        return chdir("/") == 0 ? open("dev/mem", O_RDWR | O_SYNC) : -1;
    }
    if (strcmp(way, "at") == 0) {
        const int dev = open("/dev", O_RDONLY | O_DIRECTORY);
        return openat(dev, "mem", O_RDWR | O_SYNC);
    }
    if (strcmp(way, "link") == 0) {
        return symlink("/dev/mem", "/tmp/link") == 0 ? open("/tmp/link", O_RDWR | O_SYNC) : -1;
    }
    if (strcmp(way, "rel-link") == 0) {
        return symlink("../dev/mem", "/tmp/rel") == 0 ? open("/tmp/rel", O_RDWR | O_SYNC) : -1;
    }
    if (strcmp(way, "create") == 0) {
        return open("/dev/mem", O_RDWR | O_CREAT, 0600);
    }
    return -1;
}

int main(int argc, char **argv) {
    const char *what = argc > 1 ? argv[1] : "word";
    const char *arg = argc > 2 ? argv[2] : "";
    if (strcmp(what, "call") == 0) {
        return Call(arg);
    }
    if (strcmp(what, "sleep") == 0) {
        return Sleep(arg);
    }
    if (strcmp(what, "open") == 0) {
        const int fd = OpenAs(arg);
        if (Said("open", fd) != 0) {
            return 1;
        }
        window = Map(fd, PROT_READ | PROT_WRITE, MAP_SHARED);
        printf("status: 0x%08X\n", window != NULL ? (unsigned)window[PORT_STATUS / 4] : 0u);
        return 0;
    }
    if (strcmp(what, "escape") == 0) {
        char path[64];
        snprintf(path, sizeof path, "/var/tmp/varkel-probe-%d", (int)getpid());
        Said("machine", open(path, O_WRONLY | O_CREAT | O_EXCL, 0600));
        return Said("tmp", open("/tmp/varkel-probe", O_WRONLY | O_CREAT | O_EXCL, 0600));
    }
    if (strcmp(what, "map") == 0 && argc > 5) {
        const int mode = strcmp(argv[2], "ro") == 0 ? O_RDONLY : strcmp(argv[2], "wo") == 0 ? O_WRONLY : O_RDWR;
        const int fd = open("/dev/mem", mode | O_SYNC);
        const int prot = strcmp(argv[3], "r") == 0 ? PROT_READ : PROT_READ | PROT_WRITE;
        window = Map(fd, prot, strcmp(argv[4], "private") == 0 ? MAP_PRIVATE : MAP_SHARED);
        if (Said("mmap", window != NULL ? 0 : -1) != 0) {
            return 1;
        }
        if (strcmp(argv[5], "read") == 0) {
            printf("status: 0x%08X\n", (unsigned)window[PORT_STATUS / 4]);
        } else if (strcmp(argv[5], "write") == 0) {
            window[PORT_DATA / 4] = 0x5A;
            printf("stored\n");
        }
        return 0;
    }
    if (strcmp(what, "protect") == 0 || strcmp(what, "protect-up") == 0 || strcmp(what, "unmap") == 0 ||
        strcmp(what, "remap") == 0 || strcmp(what, "device") == 0) {
        const int up = strcmp(what, "protect-up") == 0;
        const int fd = open("/dev/mem", (up ? O_RDONLY : O_RDWR) | O_SYNC);
        if (strcmp(what, "device") == 0) {
            return Device(arg, fd);
        }
        window = Map(fd, up ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED);
        if (window == NULL) {
            return Said("mmap", -1);
        }
        if (up) {
            return Said("mprotect", mprotect((void *)window, 4096, PROT_READ | PROT_WRITE));
        }
        if (strcmp(what, "remap") == 0) {
            return Said("mremap", mremap((void *)window, 4096, 8192, MREMAP_MAYMOVE) == MAP_FAILED ? -1 : 0);
        }
        if (strcmp(what, "unmap") == 0) {
            Said("munmap", munmap((void *)window, 4096));
        } else {
            Said("mprotect", mprotect((void *)window, 4096, PROT_READ));
            printf("status: 0x%08X\n", (unsigned)window[PORT_STATUS / 4]);
            fflush(stdout);
        }
        window[PORT_DATA / 4] = 0x5A; /* faults */
        printf("stored\n");
        return 0;
    }
    if (strcmp(what, "clock") == 0) {
        const unsigned long long start = Ns(CLOCK_MONOTONIC);
        struct timespec step = {1, 500000000};
        nanosleep(&step, NULL);
        clock_nanosleep(CLOCK_MONOTONIC, 0, &step, NULL);
        struct timespec until = {0, 0};
        const unsigned long long deadline = Ns(CLOCK_MONOTONIC) + 250000000ull;
        until.tv_sec = (time_t)(deadline / 1000000000ull);
        until.tv_nsec = (long)(deadline % 1000000000ull);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL);
        printf("clock: %llu %llu\n", start, Ns(CLOCK_MONOTONIC));
        return 0;
    }
    if (strcmp(what, "crash") == 0) {
        *(volatile int *)(uintptr_t)(argc - 2) = 1;
        return 0;
    }
    if (strcmp(what, "mem") == 0) {
        const int fd = argc > 2 ? open(argv[2], O_RDONLY) : -1;
        printf("opened: %d\n", fd);
        if (fd >= 0) {
            close(fd);
        }
        return 0;
    }
    const int fd = open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0) {
        perror("open /dev/mem");
        return 1;
    }
    window = mmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, PORT_BLOCK);
    if (window == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    volatile uint8_t *bytes = (volatile uint8_t *)window;
    uint32_t value = 0;
    if (strcmp(what, "word") == 0) {
        window[PORT_DATA / 4] = 0x5A;
        value = window[PORT_STATUS / 4];
    } else if (strcmp(what, "byte") == 0) {
        bytes[PORT_DATA] = 0x5A;
    } else if (strcmp(what, "halfword") == 0) {
        value = *(volatile uint16_t *)(bytes + PORT_STATUS);
    } else if (strcmp(what, "double") == 0) {
        __asm__ volatile("vldr d0, [%0]" ::"r"(bytes + PORT_STATUS) : "d0", "memory");
    } else if (strcmp(what, "swap") == 0) {
        __asm__ volatile("swp %0, %0, [%1]" : "+&r"(value) : "r"(bytes + PORT_DATA) : "memory");
    } else if (strcmp(what, "misaligned") == 0) {
        value = *(volatile uint32_t *)(bytes + PORT_STATUS + 2);
    } else if (strcmp(what, "thread") == 0) {
        pthread_t thread;
        void *result = NULL;
        pthread_create(&thread, NULL, FromAThread, NULL);
        pthread_join(thread, &result);
        value = (uint32_t)(uintptr_t)result;
    } else if (strcmp(what, "syscall") == 0) {
        if (write(1, (const void *)(bytes + PORT_STATUS), 4) < 0) {
            perror("write");
        }
    } else {
        fprintf(stderr, "probe: unknown action %s\n", what);
        return 2;
    }
    printf("%s: 0x%08X\n", what, (unsigned)value);
    return 0;
}
