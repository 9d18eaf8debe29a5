// Entry point of every test program: one QCoreApplication for the whole run, so
// tests of code that uses Qt's event loop (timers, network) can spin it.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
