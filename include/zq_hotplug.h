/* The hot-plug monitor: tells the application when an SD card or a wired
 * network interface on USB port 1-1 comes or goes.
 *
 * SystemHotPlugDetectPthread is a thread function for the application to
 * start. It listens to the kernel's device events, collects the event
 * headers of a burst, and once the burst has been quiet for 3 seconds hands
 * each event it recognises to the callback registered with
 * ZQSDK_RegisterSystemHotplugEventFunc, on its own thread. */
#ifndef ZQ_HOTPLUG_H
#define ZQ_HOTPLUG_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* s32EventType: where the device sits. */
enum { ZQ_HOTPLUG_EVENT_NONE = 0, ZQ_HOTPLUG_EVENT_SD = 1, ZQ_HOTPLUG_EVENT_USB = 2 };
/* s32DeviceType: what it is. */
enum { ZQ_HOTPLUG_DEVICE_NONE = 0, ZQ_HOTPLUG_DEVICE_SD_CARD = 1, ZQ_HOTPLUG_DEVICE_ETH = 2 };
/* s32Status. */
enum { ZQ_HOTPLUG_REMOVED = 0, ZQ_HOTPLUG_ADDED = 1 };

/* One device that came or went. */
typedef struct HotplugEvent {
    s32 s32EventType;   /* 1: on the SD host (path holds "/arasan"); 2: on USB port 1-1
                           (path holds "/usb1/1-1") */
    s32 s32DeviceType;  /* 1: the SD card's block device mmcblk0; 2: a wired network
                           interface eth<digit> */
    s32 s32Status;      /* 1: added, 0: removed */
    char szDevName[32]; /* "mmcblk0" or the interface's name, NUL-terminated */
} HotplugEvent;

ZQ_LAYOUT_CHECK(HotplugEvent, sizeof(HotplugEvent) == 44 &&
                                  offsetof(HotplugEvent, s32DeviceType) == 4 &&
                                  offsetof(HotplugEvent, s32Status) == 8 &&
                                  offsetof(HotplugEvent, szDevName) == 12);

/* Called on the monitor's thread with the event's address; the record is
 * the monitor's and is valid only during the call. */
typedef void (*HotplugEventCallback)(HotplugEvent *pstEvent);

/* What SystemHotPlugDetectPthread returns when the kernel's event socket
 * cannot be made or bound: -1 as a pointer. */
#define ZQ_HOTPLUG_THREAD_FAILED ((void *)(intptr_t)-1)

/* Thread function; arg is not used. Runs for ever once its socket is bound.
 * It returns ZQ_HOTPLUG_THREAD_FAILED, without a callback ever made, when
 * the socket cannot be made or bound (only one monitor per process can bind:
 * the socket's port id is the process id, which any other event socket of
 * the process may already hold).
 *
 * Left as they are: events the kernel drops because the socket's buffer is
 * full are not reported, and datagrams are not checked for the kernel as
 * their sender, so a local process that may send to the port is believed.
 *
 * A burst's events are delivered 3 seconds after its last event, in the
 * kernel's order; a burst whose headers outgrow the monitor's 2048-byte
 * collection is delivered up to there at once, and collection starts again.
 *
 * The thread may be ended with pthread_cancel: the cancellation takes effect
 * while the monitor waits for events, never inside the callback, and the
 * socket is closed as the thread ends. That is why this function, unlike the
 * others, lets the cancellation's unwinding through. The joiner then gets
 * PTHREAD_CANCELED, which on Linux is the same -1 as ZQ_HOTPLUG_THREAD_FAILED:
 * only the caller that cancelled knows which it was. */
ZQ_API void *SystemHotPlugDetectPthread(void *arg);

/* Makes pfHotplugEventCb the callback, in place of any earlier one. 0, or -1
 * when it is null (the earlier callback stays). Safe to call while the
 * monitor runs. */
ZQ_API s32 ZQSDK_RegisterSystemHotplugEventFunc(HotplugEventCallback pfHotplugEventCb) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_HOTPLUG_H */
