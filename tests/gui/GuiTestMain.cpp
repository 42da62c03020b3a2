#include <gtest/gtest.h>

#include <QApplication>

#include "platform/FileChooser.h"
#include "platform/MessageBox.h"

namespace {

// Each test starts with no scripted answers and no recorded boxes left over
// from the one before.
class ResetSeams : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        zeza::MessageBox::ResetForTesting();
        zeza::FileChooser::ResetForTesting();
    }
};

}  // namespace

int main(int argc, char** argv) {
    // Test discovery runs the binary without the test environment; never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zeza"));
    testing::UnitTest::GetInstance()->listeners().Append(new ResetSeams);
    return RUN_ALL_TESTS();
}
