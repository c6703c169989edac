// Tests of the component run with an application object, as the component
// runs in the tool: the event thread's synchronised calls need its loop.
#include "ComErrors.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    InitPortErrorMessages();
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
