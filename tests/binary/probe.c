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
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <pthread.h>
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

int main(int argc, char **argv) {
    const char *what = argc > 1 ? argv[1] : "word";
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
