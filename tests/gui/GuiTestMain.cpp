#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>

#include "tests/gui/GuiTestSupport.h"

namespace {

// Each test starts with every test hook as a program has it: no scripted answers,
// no recorded boxes and no hook left over from the one before.
class ResetSeams : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { zeza::test::ResetTestHooks(); }
};

}  // namespace

int main(int argc, char** argv) {
    // Test discovery runs the binary without the test environment; never need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The full browser's helper processes refuse to start as root inside their
    // sandbox; test machines often run as root.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zeza"));
    testing::UnitTest::GetInstance()->listeners().Append(new ResetSeams);
    return RUN_ALL_TESTS();
}
