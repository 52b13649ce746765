// The unit tests' main: every test, then the tables this processor could not
// run, if any (exit status 77, skipped, when the tests passed without them).
#include <gtest/gtest.h>

#include "runnable.h"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (RUN_ALL_TESTS() != 0) return 1;
    return kivo_tests::report_left_out();
}
