// Entry point of every test program: one QCoreApplication for the whole run, so
// tests of code that uses Qt's event loop (timers, network) can spin it. Widget
// test programs get a QApplication instead.
#ifdef ZELVO_WIDGET_TESTS
#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
#ifdef ZELVO_WIDGET_TESTS
    // Widgets are tested off screen, also when the test list is gathered.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
