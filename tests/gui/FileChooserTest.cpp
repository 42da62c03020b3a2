#include <gtest/gtest.h>

#include <filesystem>

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTranslator>
#include <QFile>

#include "app/CFundApp.h"
#include "exchange/ExchangeTexts.h"
#include "platform/FileChooser.h"
#include "platform/MessageBox.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::FileChooser;
using zeza::MessageBox;

namespace {

class FileChooserTest : public zeza::test::GuiTest {
  protected:
    QString Save(const QString& dir = QString::fromUtf8(zeza::kHoldingsFileName)) {
        return FileChooser::GetSaveFileName(nullptr, QStringLiteral("导出"), dir,
                                            QString::fromUtf8(zeza::kHoldingsFileFilter),
                                            QString::fromUtf8(zeza::kHoldingsFileSuffix));
    }
    bool ConfirmOverwrite() {
        return FileChooser::ConfirmOverwrite(
            nullptr, QDir::current().absoluteFilePath(QStringLiteral("Zeza.TXT")),
            QString::fromUtf8(zeza::kOverwriteQuestion), QString::fromUtf8(zeza::kExchangeCaption));
    }
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
    EXPECT_TRUE(ConfirmOverwrite());
    EXPECT_TRUE(MessageBox::Requests().empty());

    zeza::test::WriteFileBytes("Zeza.TXT", "old");
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    EXPECT_FALSE(ConfirmOverwrite());
    EXPECT_TRUE(ConfirmOverwrite());
    ASSERT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("文件已存在，是否覆盖原数据？"));
    EXPECT_EQ(MessageBox::Requests()[0].buttons, MessageBox::Buttons::OkCancel);
    EXPECT_EQ(MessageBox::Requests()[0].icon, MessageBox::Icon::Question);
}

TEST_F(FileChooserTest, StandardChoosersSpeakChineseWithQtsCatalogue) {
    QTranslator* chinese = zeza::CFundApp::LoadQtTranslations();
    ASSERT_NE(chinese, nullptr) << "Qt's Chinese catalogue (qt6-translations-l10n) is missing";
    auto look = [](FileChooser::Mode mode) {
        const auto d =
            FileChooser::CreateDialog(mode, nullptr, QString(), QStringLiteral("Zeza.txt"),
                                      QString::fromUtf8(zeza::kHoldingsFileFilter), QStringLiteral("TXT"));
        d->show();
        QStringList texts{d->windowTitle()};
        auto* box = d->findChild<QDialogButtonBox*>();
        for (QAbstractButton* b : box->buttons()) texts << b->text();
        for (const char* label : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
            texts << d->findChild<QLabel*>(QLatin1String(label))->text();
        return texts;
    };
    EXPECT_EQ(look(FileChooser::Mode::Save),
              (QStringList{"另存为", "保存(&S)", "取消", "查找范围：", "文件名称(&N)：", "文件类型："}));
    EXPECT_EQ(look(FileChooser::Mode::Open).mid(0, 2), (QStringList{"打开", "打开(&O)"}));
    QCoreApplication::removeTranslator(chinese);
    delete chinese;
}
