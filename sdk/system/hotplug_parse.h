// What the hot-plug monitor does with the bytes it receives: collect the
// headers of a burst of kernel device events, one a line, and turn a
// finished burst into events. The monitor's thread only waits and receives.
#pragma once

#include <cstddef>

#include "zq_hotplug.h"

// One received datagram: the kernel's header, then its KEY=VALUE lines.
// A header is at most 255 characters.
constexpr size_t kHotplugRecvBytes = 256;
// The headers of one burst, one a line, NUL-terminated.
constexpr size_t kHotplugBurstBytes = 2048;

struct HotplugBurst {
    char text[kHotplugBurstBytes];
    size_t length;
};

// Receives each recognised event of a burst, in order.
using HotplugSink = void (*)(HotplugEvent *event, void *context);

void hotplug_burst_clear(HotplugBurst &burst);

// Takes a datagram of `received` bytes in buffer: its header (the text up to
// the first NUL, at most 255 characters, terminated in place) joins the
// burst as a line. A burst that cannot take it any more is processed first,
// as after a quiet period, and collection starts again with this header.
void hotplug_burst_take(HotplugBurst &burst, char (&buffer)[kHotplugRecvBytes], size_t received,
                        HotplugSink sink, void *context);

// Processes the burst (once it has been quiet) and empties it.
void hotplug_burst_end(HotplugBurst &burst, HotplugSink sink, void *context);

// Turns each line of text (lines cut to 255 characters, empty ones skipped)
// whose header names a recognised device into an event for sink. Every
// header starts from a clear record.
void hotplug_parse_burst(const char *text, HotplugSink sink, void *context);
