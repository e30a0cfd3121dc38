// The tests' main. A process binds the virtual board of its first SDK call
// and keeps the SDK's process-wide state (open devices, the audio thread,
// the boot environment image) to its end, so a test is sound only as the one
// test of its process: a run that selects more is refused before any starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct OneTestPerProcess : ::testing::EmptyTestEventListener {
    std::string program;
    // Called once the filter and sharding have chosen the tests, before any runs.
    void OnTestProgramStart(const ::testing::UnitTest &unitTest) override {
        const int selected = unitTest.test_to_run_count(), repeat = GTEST_FLAG_GET(repeat);
        // A negative repeat runs for ever.
        if (selected == 0 || repeat == 0 || (selected == 1 && repeat == 1)) return;
        std::fprintf(stderr,
                     "%s: %d tests are selected (--gtest_repeat=%d), but this test program runs "
                     "one test per process: run it through ctest (ctest --test-dir %s -R NAME), or "
                     "pick one test with --gtest_filter=Suite.Name (--gtest_list_tests lists "
                     "them)\n",
                     program.c_str(), selected, repeat, ZQ_TEST_BUILD_DIR);
        std::exit(1);
    }
};

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    auto *guard = new OneTestPerProcess;
    guard->program = argc > 0 ? argv[0] : "test";
    guard->program.erase(0, guard->program.rfind('/') + 1);
    ::testing::UnitTest::GetInstance()->listeners().Append(guard);
    return RUN_ALL_TESTS();
}
