#include <gtest/gtest.h>

#include <filesystem>

#include <QDir>
#include <QFile>

#include "exchange/ExchangeTexts.h"
#include "platform/FileChooser.h"
#include "platform/MessageBox.h"
#include "tests/TestSupport.h"

using zeza::FileChooser;
using zeza::MessageBox;
using zeza::test::ScopedTempDir;

namespace {

class FileChooserTest : public testing::Test {
  protected:
    void SetUp() override { FileChooser::ResetForTesting(); }
    void TearDown() override { FileChooser::ResetForTesting(); }

    QString Save(const QString& dir = QString::fromUtf8(zeza::kHoldingsFileName)) {
        return FileChooser::GetSaveFileName(nullptr, QStringLiteral("导出"), dir,
                                            QString::fromUtf8(zeza::kHoldingsFileFilter),
                                            QString::fromUtf8(zeza::kHoldingsFileSuffix));
    }

    ScopedTempDir dir;
};

}  // namespace

TEST_F(FileChooserTest, CompletesTheNameAndKeepsTheCurrentDirectory) {
    const QString here = QDir::currentPath();
    std::filesystem::create_directory("sub");

    // A name without suffix gets the default one; a name with one keeps it.
    FileChooser::SetNextAnswer(QStringLiteral("Zeza"));
    FileChooser::SetNextAnswer(QStringLiteral("sub/持仓.txt"));
    FileChooser::SetNextAnswer(QString());  // Cancel
    EXPECT_EQ(Save(), here + QStringLiteral("/Zeza.TXT"));
    EXPECT_EQ(Save(), here + QStringLiteral("/sub/持仓.txt"));
    // The chooser moved into sub; the caller finds the current directory where it was.
    EXPECT_EQ(QDir::currentPath(), here);
    EXPECT_EQ(
        FileChooser::GetOpenFileName(nullptr, QStringLiteral("导入"), QStringLiteral("Zeza.txt"),
                                     QString::fromUtf8(zeza::kHoldingsFileFilter), QStringLiteral("TXT")),
        QString());

    ASSERT_EQ(FileChooser::Requests().size(), 3u);
    const FileChooser::Request& r = FileChooser::Requests()[0];
    EXPECT_EQ(r.mode, FileChooser::Mode::Save);
    EXPECT_EQ(r.dir, QStringLiteral("Zeza.txt"));
    EXPECT_EQ(r.filter, QStringLiteral("扩展名(*.TXT)"));
    EXPECT_EQ(r.defaultSuffix, QStringLiteral("TXT"));
    EXPECT_EQ(FileChooser::Requests()[2].mode, FileChooser::Mode::Open);

    // With no answer queued nothing waits for a user who cannot see the chooser.
    EXPECT_EQ(Save(), QString());
    EXPECT_EQ(FileChooser::Requests().size(), 4u);
}

TEST_F(FileChooserTest, AsksBeforeOverwritingOnlyAnExistingFile) {
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("Zeza.TXT"));
    const QString question = QString::fromUtf8(zeza::kOverwriteQuestion);
    EXPECT_TRUE(
        FileChooser::ConfirmOverwrite(nullptr, path, question, QString::fromUtf8(zeza::kExchangeCaption)));
    EXPECT_TRUE(MessageBox::Requests().empty());

    zeza::test::WriteFileBytes("Zeza.TXT", "old");
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    EXPECT_FALSE(
        FileChooser::ConfirmOverwrite(nullptr, path, question, QString::fromUtf8(zeza::kExchangeCaption)));
    EXPECT_TRUE(
        FileChooser::ConfirmOverwrite(nullptr, path, question, QString::fromUtf8(zeza::kExchangeCaption)));
    ASSERT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("文件已存在，是否覆盖原数据？"));
    EXPECT_EQ(MessageBox::Requests()[0].buttons, MessageBox::Buttons::OkCancel);
    EXPECT_EQ(MessageBox::Requests()[0].icon, MessageBox::Icon::Question);
}
