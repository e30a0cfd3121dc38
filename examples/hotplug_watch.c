/* Prints every SD card and USB network adapter that comes or goes, until
 * interrupted (Ctrl-C).
 *
 *   hotplug_watch
 *
 * The monitor runs on a thread of the application's making; events reach
 * the callback 3 seconds after the last event of a burst.
 * On a virtual board: ZQ_VBOARD=board ./hotplug_watch, and in another shell
 * vboard uevent board sd add (see docs/virtual-board.md). */
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <signal.h>
#include <stdio.h>

#include "zq_hotplug.h"

static pthread_t g_main;

static void print_event(HotplugEvent *event) {
    const char *where = event->s32EventType == ZQ_HOTPLUG_EVENT_SD ? "SD host" : "USB port 1-1";
    const char *what = event->s32DeviceType == ZQ_HOTPLUG_DEVICE_SD_CARD ? "SD card" : "network";
    printf("%s %s %s on the %s\n", what, event->szDevName,
           event->s32Status == ZQ_HOTPLUG_ADDED ? "added" : "removed", where);
    fflush(stdout);
}

/* The monitor returns only when it cannot start; the main thread hears of it. */
static void *monitor(void *arg) {
    void *result = SystemHotPlugDetectPthread(arg);
    pthread_kill(g_main, SIGUSR1);
    return result;
}

int main(void) {
    pthread_t thread;
    sigset_t signals;
    int sig = 0;

    /* Blocked in every thread: the main thread takes them with sigwait. */
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, NULL);
    g_main = pthread_self();

    ZQSDK_RegisterSystemHotplugEventFunc(print_event);
    if (pthread_create(&thread, NULL, monitor, NULL) != 0) {
        fprintf(stderr, "the monitor thread cannot be started\n");
        return 1;
    }
    printf("watching for SD cards and USB network adapters; Ctrl-C ends\n");
    fflush(stdout);
    sigwait(&signals, &sig);
    if (sig == SIGUSR1) {
        pthread_join(thread, NULL);
        fprintf(stderr, "the kernel's device events cannot be listened to\n");
        return 1;
    }
    /* The monitor and its socket end with the process. */
    printf("stopped\n");
    return 0;
}
