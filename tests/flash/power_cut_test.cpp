// Power lost, or a Ctrl-C, in the middle of a rewrite of the shared erase
// block (192 KiB partition: environment and identity record): what reads
// afterwards is the old value, the new one or nothing, never anything else,
// and the record survives every cut past its own 2 KiB.

#include <cstdlib>

#include "emul/flash.h"
#include "board/flash_format.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_flash.h"

namespace {

namespace sim = zq::sim;

constexpr uint32_t kBlock = 0x20000, kBlockSize = 0x10000, kRecordSize = 0x800;

enum class Seen { Nothing, Old, New, Wrong };

class PowerCutTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        ASSERT_TRUE(sim::write_env_image(dir(), {"bootdelay=1", "zqauto=1"}));
        oldBlock_ = sim::read_flash(dir(), kBlock, kBlockSize);
        oldRecord_ = record_payload();
    }
    std::vector<uint8_t> record_payload() {
        std::vector<uint8_t> payload(134);
        u32 version = 0;
        int rc = -1;
        capture_output([&] { rc = ZQSDK_ReadSeriesNum(payload.data(), 134, &version); });
        return rc == 0 ? payload : std::vector<uint8_t>{};
    }
    static Seen seen(bool none, bool old, bool fresh) {
        return none ? Seen::Nothing : old ? Seen::Old : fresh ? Seen::New : Seen::Wrong;
    }
    // The environment as the SDK and the boot loader take it: nothing under a bad CRC.
    Seen env_seen(const std::vector<std::string> &fresh) {
        sim::EnvImage env = sim::parse_env(sim::read_flash(dir(), 0, 0x30000), 0x30000);
        const std::vector<std::string> old = {"bootdelay=1", "zqauto=1"};
        return seen(!env.valid(), env.entries == old, env.entries == fresh);
    }
    Seen record_seen(const std::vector<uint8_t> &fresh) {
        std::vector<uint8_t> now = record_payload();
        return seen(now.empty(), now == oldRecord_, now == fresh);
    }

    std::vector<uint8_t> oldBlock_, oldRecord_;
};

struct Rewrite {
    const char *name;
    void (*write)();
    std::vector<uint8_t> record;   // what the record holds once the write is whole
    std::vector<std::string> env;  // what the environment holds then
};

const std::vector<uint8_t> kFreshRecord(134, 0x5A);
const Rewrite kRewrites[] = {
    {"identity write",
     [] { ZQSDK_WriteSeriesNum(kFreshRecord.data(), 134, 0x301); },
     kFreshRecord,
     {"bootdelay=1", "zqauto=1"}},
    {"environment save",
     [] { ZQSDK_EnvWriteKeyValue("zqauto", "12"); },
     {},
     {"bootdelay=1", "zqauto=12"}},
};

// Cut points: through the record's 2 KiB, over its last words, across the
// rest of the block, and at the environment's CRC word, which goes last.
// ZQ_CUT_STRIDE=N sweeps every Nth byte of the block instead (slow).
std::vector<int64_t> cut_points() {
    std::vector<int64_t> cuts;
    if (const char *stride = std::getenv("ZQ_CUT_STRIDE"); stride && std::atoi(stride) > 0) {
        for (int64_t c = 0; c < kBlockSize; c += std::atoi(stride)) cuts.push_back(c);
        return cuts;
    }
    for (int64_t c = 0; c < kRecordSize; c += 97) cuts.push_back(c);
    for (int64_t c = kRecordSize - 6; c <= kRecordSize + 2; ++c) cuts.push_back(c);
    for (int64_t c = kRecordSize + 3; c < kBlockSize - 8; c += 1531) cuts.push_back(c);
    for (int64_t c = kBlockSize - 8; c < kBlockSize; ++c) cuts.push_back(c);
    return cuts;
}

TEST_F(PowerCutTest, EveryCutLeavesOldNewOrNothingAndTheRecordPastItsOwn2KiB) {
    for (const Rewrite &rewrite : kRewrites) {
        const std::vector<uint8_t> record = rewrite.record.empty() ? oldRecord_ : rewrite.record;
        for (int64_t cut : cut_points()) {
            SCOPED_TRACE(std::string(rewrite.name) + ", cut after " + std::to_string(cut));
            ASSERT_TRUE(sim::poke_flash(dir(), kBlock, oldBlock_));
            ASSERT_TRUE(sim::set_flash_power_cut(dir(), cut));
            EXPECT_EXIT(rewrite.write(), testing::KilledBySignal(SIGKILL), "");
            ASSERT_TRUE(sim::set_flash_power_cut(dir(), -1));
            const Seen r = record_seen(record), e = env_seen(rewrite.env);
            EXPECT_NE(r, Seen::Wrong);
            EXPECT_NE(e, Seen::Wrong);
            if (cut >= kRecordSize) {
                EXPECT_EQ(r, rewrite.record.empty() ? Seen::Old : Seen::New);
            }
        }
    }
}

// A Ctrl-C during the write waits until the block is whole.
TEST_F(PowerCutTest, InterruptArrivesOnlyOnceTheBlockIsWhole) {
    for (const Rewrite &rewrite : kRewrites) {
        SCOPED_TRACE(rewrite.name);
        ASSERT_TRUE(sim::poke_flash(dir(), kBlock, oldBlock_));
        ASSERT_TRUE(sim::set_flash_interrupt(dir(), 0x100));
        EXPECT_EXIT(rewrite.write(), testing::KilledBySignal(SIGINT), "");
        EXPECT_EQ(record_seen(rewrite.record.empty() ? oldRecord_ : rewrite.record),
                  rewrite.record.empty() ? Seen::Old : Seen::New);
        EXPECT_EQ(env_seen(rewrite.env), rewrite.record.empty() ? Seen::New : Seen::Old);
    }
}

}  // namespace
