// The cases on the guest's real UARTs. The far end on the host plays the
// other end of each line; the verdict goes back to it on the control line.

#include "ComErrors.h"
#include "FarLine.h"

#include <QCoreApplication>

#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    InitPortErrorMessages();
    QCoreApplication application(argc, argv);
    if (const std::string failure = Far().Open(ControlLinePath); !failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 2;
    }
    try {
        Far().Request("hello");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the far end is not there: %s\n", e.what());
        return 2;
    }
    const int result = RUN_ALL_TESTS();
    const int failed = testing::UnitTest::GetInstance()->failed_test_count();
    try {
        Far().Request("done " + std::to_string(result != 0 && failed == 0 ? 1 : failed));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the verdict did not reach the far end: %s\n", e.what());
    }
    return result;
}
