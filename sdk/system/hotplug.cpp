// The hot-plug monitor: a thread that listens to the kernel's device events,
// collects the headers of a burst, and once the burst has been quiet for
// three seconds hands each SD card or USB network interface event to the
// registered callback.
#include <linux/netlink.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "port/port.h"
#include "system/hotplug_parse.h"
#include "system/hotplug_thread.h"
#include "zq_log.h"

namespace port = zq::port;

namespace {

struct HotplugState {
    std::atomic<HotplugEventCallback> g_HotplugCb{nullptr};
    std::atomic<bool> stopRequested{false};  // tests only
};

HotplugState g_Hotplug;

constexpr int kQuietMs = 3000;  // a burst ends after three quiet seconds
constexpr int kReceiveBufferBytes = 16384;
constexpr uint32_t kUeventGroup = 1;
constexpr size_t kLineChars = kHotplugRecvBytes - 1;

constexpr const char *kUnit = "zq_system";
constexpr const char *kMonitor = "SystemHotPlugDetectPthread";
#define MONITOR_LOG(level, ...) sdk_log((level), kUnit, kMonitor, __LINE__, __VA_ARGS__)

// The word at text (up to white space), cut to fit name.
void copy_word(const char *text, char (&name)[sizeof HotplugEvent::szDevName]) {
    size_t n = 0;
    while (n + 1 < sizeof name && text[n] && !std::isspace(static_cast<unsigned char>(text[n])))
        ++n;
    std::memcpy(name, text, n);
    name[n] = '\0';
}

// The first match of what in text, when text ends within tail characters of
// its start.
const char *ending(const char *text, const char *what, size_t tail) {
    const char *at = std::strstr(text, what);
    return at && std::strlen(at) <= tail ? at : nullptr;
}

// The text after the first match of prefix in line, or null.
const char *after(const char *line, const char *prefix) {
    const char *at = std::strstr(line, prefix);
    return at ? at + std::strlen(prefix) : nullptr;
}

void parse_line(const char *line, HotplugSink sink, void *context) {
    MONITOR_LOG(ZQ_LOG_DEBUG, "line[%s]\n", line);
    // A field one header sets never completes the event of another: a USB
    // adapter on another port after an SD card's header is no SD event.
    HotplugEvent event{};
    const char *text = after(line, "remove@");
    if (text) {
        event.s32Status = ZQ_HOTPLUG_REMOVED;
    } else if ((text = after(line, "add@"))) {
        event.s32Status = ZQ_HOTPLUG_ADDED;
    } else {
        return;
    }
    if (std::strstr(text, "/arasan"))
        event.s32EventType = ZQ_HOTPLUG_EVENT_SD;
    else if (std::strstr(text, "/usb1/1-1"))
        event.s32EventType = ZQ_HOTPLUG_EVENT_USB;
    // The path must end with the block device, or with "eth" and at most one
    // more character.
    if (const char *block = ending(text, "/block/mmcblk0", 14)) {
        copy_word(block + std::strlen("/block/"), event.szDevName);
        event.s32DeviceType = ZQ_HOTPLUG_DEVICE_SD_CARD;
    } else if (const char *net = ending(text, "/net/eth", 9)) {
        copy_word(net + std::strlen("/net/"), event.szDevName);
        event.s32DeviceType = ZQ_HOTPLUG_DEVICE_ETH;
    }
    if (event.s32EventType != 0 && event.s32DeviceType != 0) {
        MONITOR_LOG(ZQ_LOG_INFO, "Hotplus event type %d device type %d status %d device name %s\n",
                    event.s32EventType, event.s32DeviceType, event.s32Status, event.szDevName);
        sink(&event, context);
    } else {
        MONITOR_LOG(ZQ_LOG_DEBUG,
                    "Hotplus parse failed, event type %d device type %d status %d device name %s\n",
                    event.s32EventType, event.s32DeviceType, event.s32Status, event.szDevName);
    }
}

void dispatch(HotplugEvent *event, void *) {
    if (HotplugEventCallback callback = g_Hotplug.g_HotplugCb.load(std::memory_order_acquire))
        callback(event);
}

// The kernel's event socket, closed however the thread ends.
struct EventSocket {
    int fd;
    ~EventSocket() {
        if (fd >= 0) port::close(fd);
    }
};

// The thread's cancellation state, given back however the thread ends.
struct CancelHold {
    int previous = PTHREAD_CANCEL_ENABLE;
    CancelHold() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous); }
    ~CancelHold() {
        int ignored;
        pthread_setcancelstate(previous, &ignored);
    }
};

// Waits for the socket to be readable, at most the quiet period (poll, not
// select: a descriptor above FD_SETSIZE overruns nothing). This wait is the
// only place where a cancellation of the thread takes effect, so that it
// never lands in a callback or a log line.
int wait_readable(int fd) {
    struct pollfd readable = {fd, POLLIN, 0};
    int state;
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &state);
    int ready = port::poll(&readable, 1, kQuietMs);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    return ready;
}

// Collects and delivers bursts until a test stops it.
void monitor(int fd) {
    HotplugBurst burst;
    hotplug_burst_clear(burst);
    char buffer[kHotplugRecvBytes];
    while (!g_Hotplug.stopRequested.exchange(false)) {
        std::memset(buffer, 0, sizeof buffer);
        // Any event on the socket, an error included, is taken by a receive:
        // a pending error (lost events) is cleared by it, not waited on again.
        int ready = wait_readable(fd);
        if (ready > 0) {
            ssize_t received = port::recv(fd, buffer, sizeof buffer, 0);
            if (received > 0)
                hotplug_burst_take(burst, buffer, static_cast<size_t>(received), dispatch, nullptr);
        } else if (ready == 0 && burst.length > 0) {
            hotplug_burst_end(burst, dispatch, nullptr);
        }
    }
}

}  // namespace

void hotplug_burst_clear(HotplugBurst &burst) {
    std::memset(burst.text, 0, sizeof burst.text);
    burst.length = 0;
}

void hotplug_burst_take(HotplugBurst &burst, char (&buffer)[kHotplugRecvBytes], size_t received,
                        HotplugSink sink, void *context) {
    // A full datagram need not hold a NUL; its header ends within the buffer.
    buffer[std::min(received, kLineChars)] = '\0';
    MONITOR_LOG(ZQ_LOG_DEBUG, "Monitor thread recv:[%s]\n", buffer);
    size_t n = std::strlen(buffer);
    // The header, its newline and the terminator must fit; if they do not,
    // the burst so far is delivered now rather than any header dropped.
    if (burst.length + n + 2 > sizeof burst.text) hotplug_burst_end(burst, sink, context);
    std::memcpy(burst.text + burst.length, buffer, n);
    burst.length += n;
    burst.text[burst.length++] = '\n';
    burst.text[burst.length] = '\0';
}

void hotplug_burst_end(HotplugBurst &burst, HotplugSink sink, void *context) {
    MONITOR_LOG(ZQ_LOG_DEBUG, "buffer[%s]\n", burst.text);
    hotplug_parse_burst(burst.text, sink, context);
    hotplug_burst_clear(burst);
}

void hotplug_parse_burst(const char *text, HotplugSink sink, void *context) {
    while (*text) {
        const char *end = std::strchr(text, '\n');
        size_t n = end ? static_cast<size_t>(end - text) : std::strlen(text);
        if (n > 0) {
            char line[kHotplugRecvBytes];
            size_t keep = std::min(n, kLineChars);
            std::memcpy(line, text, keep);
            line[keep] = '\0';
            parse_line(line, sink, context);
        }
        text += end ? n + 1 : n;
    }
}

void hotplug_monitor_stop() {
    g_Hotplug.stopRequested.store(true);
}

// Not noexcept, unlike the other entry points: a cancellation unwinds
// through it, and an unwinding through a noexcept function ends the process.
void *SystemHotPlugDetectPthread(void *) {
    prctl(PR_SET_NAME, "HotPlug", 0, 0, 0);
    CancelHold hold;
    EventSocket events{port::socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT)};
    if (events.fd < 0) return ZQ_HOTPLUG_THREAD_FAILED;
    int size = kReceiveBufferBytes;
    (void)port::setsockopt(events.fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    struct sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_pid = static_cast<uint32_t>(getpid());
    address.nl_groups = kUeventGroup;
    if (port::bind(events.fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return ZQ_HOTPLUG_THREAD_FAILED;
    monitor(events.fd);
    return nullptr;
}

s32 ZQSDK_RegisterSystemHotplugEventFunc(HotplugEventCallback pfHotplugEventCb) noexcept {
    if (!pfHotplugEventCb) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "pfHotplugEventCb is NULL !\n");
        return -1;
    }
    g_Hotplug.g_HotplugCb.store(pfHotplugEventCb, std::memory_order_release);
    return 0;
}
