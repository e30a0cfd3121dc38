// Physical register access: every call opens "/dev/mem", maps the one page
// that holds the register, stores or loads one aligned 32-bit word, unmaps
// and closes again. GPIO control writes the pad registers of the GPIO block.
#include <fcntl.h>
#include <sys/mman.h>

#include <cstdio>

#include "port/port.h"
#include "zq_log.h"
#include "zq_reg.h"

namespace {

namespace port = zq::port;

constexpr u32 kPageSize = 4096;
constexpr u32 kInPageMask = kPageSize - 1;

// The device of one access; closed last.
struct MemDevice {
    int fd = -1;
    ~MemDevice() {
        if (fd >= 0) port::close(fd);
    }
};

// The mapped page of one access; unmapped before the device is closed.
struct MappedPage {
    void *base = MAP_FAILED;
    ~MappedPage() {
        if (base != MAP_FAILED) port::munmap(base, kPageSize);
    }
};

// Maps the page holding physAddr and hands its register to access. False,
// with the line printed, when the device or the page is not available.
template <typename Access>
bool access_register(u32 physAddr, Access &&access) {
    MemDevice device;
    device.fd = port::open("/dev/mem", O_RDWR | O_SYNC);
    if (device.fd < 0) {
        std::fputs("mem dev Open Failed\n", stdout);
        return false;
    }
    MappedPage page;
    page.base = port::mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, device.fd,
                           static_cast<off_t>(physAddr & ~kInPageMask));
    if (page.base == MAP_FAILED) {
        std::fputs("Memory Map Failed For Address\n", stdout);
        return false;
    }
    // One whole-word access: registers must never be read or written piecemeal.
    access(
        *reinterpret_cast<volatile u32 *>(static_cast<u8 *>(page.base) + (physAddr & kInPageMask)));
    return true;
}

// A number outside the block would turn into a write to an arbitrary
// physical address, so it is refused before any access.
bool gpio_in_block(int gpio) {
    return gpio >= 0 && gpio < ZQ_GPIO_COUNT;
}

u32 gpio_register(int gpio) {
    return ZQ_GPIO_REG_BASE + 4u * static_cast<u32>(gpio);
}

}  // namespace

extern "C" {

int ZQ_RegWrite(u32 physAddr, u32 value) noexcept {
    // A word that is not aligned faults on the board, or runs past the page.
    if (physAddr % 4 != 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "address 0x%08X is not word-aligned\n", physAddr);
        return -1;
    }
    return access_register(physAddr, [value](volatile u32 &reg) { reg = value; }) ? 0 : -1;
}

int ZQ_GPIO_Write(int gpio, u8 level) noexcept {
    if (!gpio_in_block(gpio)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "gpio %d is outside the GPIO block (0..%d)\n", gpio,
                  ZQ_GPIO_COUNT - 1);
        return -1;
    }
    return ZQ_RegWrite(gpio_register(gpio), level == 1 ? ZQ_GPIO_PAD_HIGH : ZQ_GPIO_PAD_LOW);
}

int ZQ_GPIO_Read(int gpio, u8 *level) noexcept {
    if (!gpio_in_block(gpio)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "gpio %d is outside the GPIO block (0..%d)\n", gpio,
                  ZQ_GPIO_COUNT - 1);
        return -1;
    }
    if (!level) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "level is null\n");
        return -1;
    }
    u32 address = gpio_register(gpio);
    bool madeInput = ZQ_RegWrite(address, ZQ_GPIO_PAD_INPUT) == 0;
    u32 word = 0;
    bool sampled = access_register(address, [&word](volatile u32 &reg) { word = reg; });
    *level = (word & ZQ_GPIO_PAD_LEVEL) != 0 ? 1 : 0;
    return madeInput && sampled ? 0 : -1;
}

}  // extern "C"
