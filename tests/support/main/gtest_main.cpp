#include "support/testenv.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

// gtest main with a Qt application object, so that timers and
// queued signals work, and a process-wide sandbox so that no test can touch
// the real home folder even before its own sandbox exists.
int main(int argc, char **argv)
{
    bwtest::TestSandbox processSandbox;
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
