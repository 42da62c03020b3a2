#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QString>

class QFileDialog;
class QWidget;

namespace zeza {

// Every file chooser of the program goes through here, so that tests can pick
// files from a script instead of a user and read back which choosers were asked
// for. Like the message box seam, nothing ever waits for a user who cannot see
// the chooser.
class FileChooser {
  public:
    enum class Mode { Save, Open };

    // One chooser as it was asked for.
    struct Request {
        Mode mode;
        QString caption;
        QString dir;
        QString filter;
        QString defaultSuffix;
    };

    // The save chooser: the full path of the chosen file, or "" when the user
    // cancelled. An empty caption titles it "另存为" ("打开" for the open
    // chooser), as the desktop's own choosers are. dir may name a folder, a file name or both (the initial
    // name); filter is one filter such as "Texts(*.TXT)"; defaultSuffix (without dot) is added to a name
    // typed without suffix. The chooser asks nothing about an existing file, and the current directory is the
    // same afterwards.
    static QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                   const QString& filter, const QString& defaultSuffix);
    // The open chooser, with the same arguments and result; the chosen file
    // need not exist.
    static QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                   const QString& filter, const QString& defaultSuffix);

    // When something exists at path, asks question (OK and Cancel, question
    // icon) through the message box seam. True to go on: nothing there, or OK.
    static bool ConfirmOverwrite(QWidget* parent, const QString& path, const QString& question,
                                 const QString& caption);

    // The chooser as GetSaveFileName/GetOpenFileName show it, not yet shown.
    static std::unique_ptr<QFileDialog> CreateDialog(Mode mode, QWidget* parent, const QString& caption,
                                                     const QString& dir, const QString& filter,
                                                     const QString& defaultSuffix);

    // The path as the core's file operations take it (the file system's encoding).
    static std::string ToNativePath(const QString& path);

    // Tests: queue what the user picks or types in the next chooser ("" for
    // Cancel). While answers are queued no chooser is shown; each answer is
    // completed as the chooser would complete it (made absolute against the
    // chooser's folder, the default suffix added), and the chooser's habit of
    // moving the current directory to the chosen folder is played as well.
    static void SetNextAnswer(const QString& answer);
    // Tests: every chooser asked for since the last ClearRequests, oldest first.
    static const std::vector<Request>& Requests();
    static void ClearRequests();
    // Tests: drops queued answers and recorded requests.
    static void ResetForTesting();
};

}  // namespace zeza
