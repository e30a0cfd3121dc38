// The physical memory emulator keeps the hardware's rules: memory that keeps
// what was stored, pad registers that show an input's live level, and
// mappings refused as a driver refuses them.
#include "mem_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <sys/mman.h>

#include <cerrno>
#include <string>
#include <vector>

#include "board.h"
#include "device_json.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_reg.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

class MemDeviceTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        fd_ = port::open("/dev/mem", O_RDWR | O_SYNC);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        port::close(fd_);
        VBoardTest::TearDown();
    }
    volatile uint32_t *map(uint32_t phys, int flags = MAP_SHARED) {
        void *page =
            port::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, flags, fd_, static_cast<off_t>(phys));
        return page == MAP_FAILED ? nullptr : static_cast<volatile uint32_t *>(page);
    }
    void unmap(volatile uint32_t *page) { port::munmap(const_cast<uint32_t *>(page), 4096); }

    int fd_ = -1;
};

TEST_F(MemDeviceTest, MemoryKeepsSharedStoresAnywhereInThe32BitSpace) {
    volatile uint32_t *top = map(0xFFFFF000);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top[1023], 0u);
    top[1023] = 0xDEADBEEF;
    unmap(top);
    EXPECT_EQ(sim::read_phys_word(dir(), 0xFFFFFFFC), 0xDEADBEEFu);

    volatile uint32_t *scratch = map(0x20000000, MAP_PRIVATE);
    ASSERT_NE(scratch, nullptr);
    scratch[0] = 7;  // a private mapping never reaches the device
    unmap(scratch);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x20000000), 0u);
}

TEST_F(MemDeviceTest, MappingsTheKernelWouldRefuse) {
    for (off_t offset : {off_t{0x10020004}, off_t{0x100000000}, off_t{-4096}}) {
        EXPECT_EQ(port::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd_, offset), MAP_FAILED);
        EXPECT_EQ(errno, EINVAL);
    }
    int readOnly = port::open("/dev/mem", O_RDONLY);
    EXPECT_EQ(port::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, readOnly, 0),
              MAP_FAILED);
    EXPECT_EQ(errno, EACCES);
    port::close(readOnly);

    ASSERT_TRUE(sim::refuse_request(dir(), "/dev/mem", sim::kMapRequest, 1, 1));
    volatile uint32_t *first = map(0x10020000);
    EXPECT_NE(first, nullptr);
    unmap(first);
    EXPECT_EQ(map(0x10020000), nullptr);
    EXPECT_EQ(errno, EPERM);
    EXPECT_NE(map(0x10020000), nullptr);
}

TEST_F(MemDeviceTest, InputPadShowsTheLiveLevelAndOutputsReadBackAsWritten) {
    ASSERT_TRUE(sim::set_gpio_input(dir(), 5, 1));
    volatile uint32_t *pads = map(ZQ_GPIO_REG_BASE);
    pads[5] = ZQ_GPIO_PAD_INPUT;
    pads[6] = ZQ_GPIO_PAD_HIGH;
    pads[7] = 0x12345678;
    unmap(pads);
    EXPECT_EQ(sim::read_gpio_pad(dir(), 5), 0x3000u);
    EXPECT_EQ(sim::read_gpio_pad(dir(), 6), 0xC00u);

    ASSERT_TRUE(sim::set_gpio_input(dir(), 5, 0));
    EXPECT_EQ(sim::read_gpio_pad(dir(), 5), 0x1000u);
    pads = map(ZQ_GPIO_REG_BASE);
    EXPECT_EQ(pads[5], 0x1000u);
    EXPECT_EQ(pads[7], 0x12345678u);
    unmap(pads);

    std::vector<std::string> gpio;
    for (const std::string &line : sim::journal_lines(dir()))
        if (line.find(" gpio ") != std::string::npos)
            gpio.push_back(line.substr(line.find("gpio")));
    EXPECT_EQ(gpio,
              (std::vector<std::string>{"gpio 5 pad 0x00001000 (input, level 1)",
                                        "gpio 6 pad 0x00000C00 (high)", "gpio 7 pad 0x12345678"}));
}

TEST_F(MemDeviceTest, OverlappingMappingsKeepEachOthersStores) {
    volatile uint32_t *a = map(ZQ_GPIO_REG_BASE);
    volatile uint32_t *b = map(ZQ_GPIO_REG_BASE);
    a[1] = ZQ_GPIO_PAD_HIGH;
    b[2] = ZQ_GPIO_PAD_LOW;
    unmap(a);
    unmap(b);
    EXPECT_EQ(sim::read_gpio_pad(dir(), 1), ZQ_GPIO_PAD_HIGH);
    EXPECT_EQ(sim::read_gpio_pad(dir(), 2), ZQ_GPIO_PAD_LOW);
}

TEST_F(MemDeviceTest, NewBoardNamesTheAmplifierGpio) {
    json_object *root =
        json_tokener_parse(sim::read_board_file(dir(), "/usr/bin/device.json").c_str());
    json_object *gpio =
        json_object_object_get(json_object_object_get(root, "DeviceGpio"), "AoEnable");
    EXPECT_TRUE(json_object_is_type(gpio, json_type_int));
    EXPECT_EQ(json_object_get_int(gpio), sim::kAmplifierGpio);
    json_object_put(root);
    static_assert(sim::kAmplifierGpio > 0 && sim::kAmplifierGpio < ZQ_GPIO_COUNT);
}

}  // namespace
