#include "platform/FileChooser.h"

#include <deque>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>

#include "platform/MessageBox.h"

namespace zeza {

namespace {

// Choosers are only ever shown from the UI thread, so the script needs no lock.
std::deque<QString>& QueuedAnswers() {
    static std::deque<QString> answers;
    return answers;
}

std::vector<FileChooser::Request>& RecordedRequests() {
    static std::vector<FileChooser::Request> requests;
    return requests;
}

bool CanShowChoosers() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// The folder the chooser starts in: dir itself when it is a folder, else the
// folder part of dir (the current directory for a bare file name).
QString StartFolder(const QString& dir) {
    if (dir.isEmpty()) return QDir::currentPath();
    const QFileInfo info(dir);
    return info.isDir() ? info.absoluteFilePath() : info.absolutePath();
}

QString WithDefaultSuffix(const QString& path, const QString& defaultSuffix) {
    if (path.isEmpty() || defaultSuffix.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + QLatin1Char('.') + defaultSuffix;
}

QString ScriptedAnswer(const QString& typed, const QString& dir, const QString& defaultSuffix) {
    if (typed.isEmpty()) return QString();
    const QString absolute = QDir(StartFolder(dir)).absoluteFilePath(typed);
    const QString chosen = QDir::cleanPath(WithDefaultSuffix(absolute, defaultSuffix));
    // The platform chooser leaves the current directory in the chosen folder.
    QDir::setCurrent(QFileInfo(chosen).absolutePath());
    return chosen;
}

// Without a caption of its own a chooser is titled as the desktop's own choosers are.
QString TitleOf(FileChooser::Mode mode, const QString& caption) {
    if (!caption.isEmpty()) return caption;
    return mode == FileChooser::Mode::Save ? QStringLiteral("另存为") : QStringLiteral("打开");
}

QString Choose(FileChooser::Mode mode, QWidget* parent, const QString& caption, const QString& dir,
               const QString& filter, const QString& defaultSuffix) {
    RecordedRequests().push_back({mode, TitleOf(mode, caption), dir, filter, defaultSuffix});
    // The database and other files are addressed relative to the current
    // directory, which a chooser may move; it is put back whatever happens.
    const QString current = QDir::currentPath();

    QString chosen;
    auto& answers = QueuedAnswers();
    if (!answers.empty()) {
        const QString typed = answers.front();
        answers.pop_front();
        chosen = ScriptedAnswer(typed, dir, defaultSuffix);
    } else if (!CanShowChoosers()) {
        qWarning("Unanswered file chooser \"%s\" taken as cancelled", qUtf8Printable(caption));
    } else {
        const auto dialog = FileChooser::CreateDialog(mode, parent, caption, dir, filter, defaultSuffix);
        if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
            chosen = dialog->selectedFiles().constFirst();
    }

    QDir::setCurrent(current);
    return chosen;
}

}  // namespace

std::unique_ptr<QFileDialog> FileChooser::CreateDialog(Mode mode, QWidget* parent, const QString& caption,
                                                       const QString& dir, const QString& filter,
                                                       const QString& defaultSuffix) {
    auto dialog = std::make_unique<QFileDialog>(parent, TitleOf(mode, caption), dir, filter);
    dialog->setAcceptMode(mode == Mode::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Neither an overwrite question of its own nor a check that the file exists:
    // the caller decides both.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog->setDefaultSuffix(defaultSuffix);
    return dialog;
}

QString FileChooser::GetSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                     const QString& filter, const QString& defaultSuffix) {
    return Choose(Mode::Save, parent, caption, dir, filter, defaultSuffix);
}

QString FileChooser::GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                     const QString& filter, const QString& defaultSuffix) {
    return Choose(Mode::Open, parent, caption, dir, filter, defaultSuffix);
}

bool FileChooser::ConfirmOverwrite(QWidget* parent, const QString& path, const QString& question,
                                   const QString& caption) {
    if (!QFileInfo::exists(path)) return true;
    return MessageBox::Show(parent, question, caption, MessageBox::Buttons::OkCancel,
                            MessageBox::Icon::Question) == MessageBox::kOk;
}

std::string FileChooser::ToNativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

void FileChooser::SetNextAnswer(const QString& answer) {
    QueuedAnswers().push_back(answer);
}

const std::vector<FileChooser::Request>& FileChooser::Requests() {
    return RecordedRequests();
}

void FileChooser::ClearRequests() {
    RecordedRequests().clear();
}

void FileChooser::ResetForTesting() {
    QueuedAnswers().clear();
    RecordedRequests().clear();
}

}  // namespace zeza
