// The tests' main. A process binds the virtual board of its first SDK call
// and keeps the SDK's process-wide state (open devices, the audio thread,
// the boot environment image) to its end, so a test is sound only as the one
// test of its process: a run that selects more is refused before any starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

class OneTestPerProcess : public ::testing::EmptyTestEventListener {
  public:
    explicit OneTestPerProcess(std::string program) : program_(std::move(program)) {}

    // Called once the filter and sharding have chosen the tests, before any runs.
    void OnTestProgramStart(const ::testing::UnitTest &unitTest) override {
        const int selected = unitTest.test_to_run_count();
        const int repeat = GTEST_FLAG_GET(repeat);
        const bool runsAgain = repeat < 0 || repeat > 1;  // negative: for ever
        if (selected == 0 || repeat == 0 || (selected == 1 && !runsAgain)) return;
        char why[64];
        if (selected > 1)
            std::snprintf(why, sizeof why, "%d tests are selected", selected);
        else
            std::snprintf(why, sizeof why, "--gtest_repeat=%d runs it again", repeat);
        std::fprintf(stderr,
                     "%s: %s, but this test program runs one test per process: run it through "
                     "ctest (ctest --test-dir %s -R NAME), or pick one test with "
                     "--gtest_filter=Suite.Name (--gtest_list_tests lists them)\n",
                     program_.c_str(), why, ZQ_TEST_BUILD_DIR);
        std::fflush(stdout);
        std::exit(1);
    }

  private:
    std::string program_;
};

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string program = argc > 0 ? argv[0] : "test";
    program.erase(0, program.rfind('/') + 1);
    ::testing::UnitTest::GetInstance()->listeners().Append(
        new OneTestPerProcess(std::move(program)));
    return RUN_ALL_TESTS();
}
