#include <QCoreApplication>
#include <gtest/gtest.h>

// Every test program owns a QCoreApplication, as the server does: timers,
// serial ports and processEvents() need one.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
