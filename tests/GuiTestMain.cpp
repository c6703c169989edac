// Widget tests run with the tool's own application object, so the
// application-wide exception display is the real one; on the offscreen
// platform unless the test names another.
#include "ComCtlLibrary.h"
#include "ComErrors.h"
#include "TApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    InitPortErrorMessages();
    InitComCtlLibrary();
    int result = 0;
    {
        TApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    DoneComCtlLibrary();
    return result;
}
