// One request to the audio codec driver: open, request, close.
#include "audio/acodec.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include "port/port.h"

namespace port = zq::port;

static_assert(kAcodecSetOutputVolume == _IOW('A', 1, s32));
static_assert(kAcodecSetOutputMute == _IOW('A', 3, s32));
static_assert(kAcodecGetOutputMute == _IOR('A', 4, s32));
static_assert(kAcodecSetInputVolume == _IOW('A', 5, s32));

AcodecResult acodec_request(unsigned long request, s32 *value) {
    int fd = port::open("/dev/acodec", O_RDWR);
    if (fd < 0) return AcodecResult::NoDevice;
    int rc = port::ioctl(fd, request, value);
    port::close(fd);
    return rc < 0 ? AcodecResult::Refused : AcodecResult::Done;
}
