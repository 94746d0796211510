#include "dialogs/Fuentes.h"

#include <QApplication>
#include <gtest/gtest.h>

// GUI test programs own a QApplication instead; they run on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise, with the forms' fonts as
// window mode has them.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SustituirFuentes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
