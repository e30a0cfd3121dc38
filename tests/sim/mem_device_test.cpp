// The physical memory emulator keeps the hardware's rules: memory that keeps shared stores, pad
// registers that show an input's live level, and mappings refused as the kernel refuses them.
#include "mem_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cerrno>

#include "board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_reg.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

class MemDeviceTest : public VBoardTest {
  protected:
    volatile uint32_t *map(uint32_t phys, int flags = MAP_SHARED) {
        if (fd_ < 0) fd_ = port::open("/dev/mem", O_RDWR | O_SYNC);
        void *page =
            port::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, flags, fd_, static_cast<off_t>(phys));
        return page == MAP_FAILED ? nullptr : static_cast<volatile uint32_t *>(page);
    }
    void unmap(volatile uint32_t *page) { port::munmap(const_cast<uint32_t *>(page), 4096); }

    int fd_ = -1;
};

TEST_F(MemDeviceTest, SharedStoresLandAnywhereAndPrivateOnesNowhere) {
    volatile uint32_t *top = map(0xFFFFF000), *scratch = map(0x20000000, MAP_PRIVATE);
    top[1023] = 0xDEADBEEF;
    scratch[0] = 7;
    unmap(top);
    unmap(scratch);
    EXPECT_EQ(sim::read_phys_word(dir(), 0xFFFFFFFC), 0xDEADBEEFu);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x20000000), 0u);
    for (off_t bad : {off_t{0x10020004}, off_t{0x100000000}}) {
        EXPECT_EQ(port::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd_, bad), MAP_FAILED);
        EXPECT_EQ(errno, EINVAL);
    }
}

// Two mappings of the pad page at once: unmapping one must not undo the
// other's stores.
TEST_F(MemDeviceTest, InputPadShowsTheLiveLevelAndOverlappingMappingsKeepEachOthersStores) {
    ASSERT_TRUE(sim::set_gpio_input(dir(), 5, 1));
    volatile uint32_t *a = map(ZQ_GPIO_REG_BASE), *b = map(ZQ_GPIO_REG_BASE);
    a[5] = ZQ_GPIO_PAD_INPUT;
    a[6] = 0x12345678;
    b[2] = ZQ_GPIO_PAD_LOW;
    unmap(a);
    unmap(b);
    EXPECT_EQ(sim::read_gpio_pad(dir(), 5), 0x3000u);
    EXPECT_EQ(sim::read_gpio_pad(dir(), 2), ZQ_GPIO_PAD_LOW);
    ASSERT_TRUE(sim::set_gpio_input(dir(), 5, 0));
    a = map(ZQ_GPIO_REG_BASE);
    EXPECT_EQ(a[5], 0x1000u);
    EXPECT_EQ(a[6], 0x12345678u);
    unmap(a);
}

}  // namespace
