// Register writes and GPIO pads through "/dev/mem": the exact word at the
// exact physical address, the input level, and every failure path.

#include <climits>

#include "emul/board.h"
#include "emul/mem.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_reg.h"

namespace sim = zq::sim;

namespace {

using RegTest = VBoardTest;
using Strings = std::vector<std::string>;

// A read makes the pad an input and reports its bit 13.
TEST_F(RegTest, GpioWriteStoresTheDriveWordInItsPadRegisterAndReadTheInputLevel) {
    EXPECT_EQ(ZQ_GPIO_Write(5, 1), 0);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x10020014), 0xC00u);
    EXPECT_EQ(journal_events("/dev/mem"), (Strings{"open", "mmap 0x10020000 length 4096",
                                                   "munmap 0x10020000 length 4096", "close"}));
    EXPECT_EQ(ZQ_GPIO_Write(7, 0), 0);
    EXPECT_EQ(ZQ_GPIO_Write(9, 2), 0);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x1002001C), 0x400u);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x10020024), 0x400u);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x10020018), 0u);  // no neighbour is touched
    for (int input : {1, 0, 1}) {
        ASSERT_TRUE(sim::set_gpio_input(dir(), 5, input));
        u8 level = 0x55;
        EXPECT_EQ(ZQ_GPIO_Read(5, &level), 0);
        EXPECT_EQ(level, input);
    }
}

TEST_F(RegTest, OutOfBlockGpioNumbersAndUnalignedAddressesAreRefusedBeforeAnyAccess) {
    for (int gpio : {-1, 1024, INT_MIN, INT_MAX, -0x4008000}) {
        u8 level = 0x55;
        capture_output([&] {
            EXPECT_EQ(ZQ_GPIO_Write(gpio, 1), -1);
            EXPECT_EQ(ZQ_GPIO_Read(gpio, &level), -1);
        });
        EXPECT_EQ(level, 0x55);
    }
    EXPECT_EQ(ZQ_GPIO_Read(5, nullptr), -1);
    for (u32 unaligned : {0x10020FFDu, 0x10020FFEu, 0x10020FFFu})
        EXPECT_EQ(ZQ_RegWrite(unaligned, 0xFFFFFFFF), -1);
    EXPECT_TRUE(journal_events("/dev/mem").empty());
    // The last GPIO and the last word of a page are reached.
    EXPECT_EQ(ZQ_GPIO_Write(1023, 1), 0);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x10020FFC), 0xC00u);
    EXPECT_EQ(ZQ_RegWrite(0x10020FFC, 0xA5A5A5A5), 0);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x10020FFC), 0xA5A5A5A5u);
}

TEST_F(RegTest, MissingDeviceOrRefusedMappingFails) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/mem", true));
    u8 level = 0x55;
    capture_output([&] {
        EXPECT_EQ(ZQ_RegWrite(0x10020014, 1), -1);
        EXPECT_EQ(ZQ_GPIO_Read(5, &level), -1);
    });
    EXPECT_EQ(level, 0);

    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/mem", false) &&
                sim::refuse_request(dir(), "/dev/mem", sim::kMapRequest, 1));
    level = 0x55;  // the input word passes, the sample is refused
    capture_output([&] {
        EXPECT_EQ(ZQ_GPIO_Read(5, &level), -1);
        EXPECT_EQ(ZQ_GPIO_Write(5, 1), -1);
    });
    EXPECT_EQ(level, 0);
    EXPECT_EQ(sim::read_phys_word(dir(), 0x10020014), 0x1000u);
    EXPECT_EQ(journal_events("/dev/mem").back(), "close");
}

}  // namespace
