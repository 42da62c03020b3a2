#include "platform/MessageBox.h"

#include <deque>

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace zeza {

namespace {

// Boxes are only ever shown from the UI thread, so the script needs no lock.
std::deque<int>& QueuedAnswers() {
    static std::deque<int> answers;
    return answers;
}

std::vector<MessageBox::Request>& RecordedRequests() {
    static std::vector<MessageBox::Request> requests;
    return requests;
}

QMessageBox::Icon ToQtIcon(MessageBox::Icon icon) {
    switch (icon) {
        case MessageBox::Icon::Information:
            return QMessageBox::Information;
        case MessageBox::Icon::Question:
            return QMessageBox::Question;
        case MessageBox::Icon::Warning:
            return QMessageBox::Warning;
        case MessageBox::Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

bool& ShowUnscripted() {
    static bool on = false;
    return on;
}

// On a platform without a screen a box nobody can see or answer would wait for ever.
bool CanShowBoxes() {
    if (ShowUnscripted()) return true;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

}  // namespace

int MessageBox::Show(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                     Icon icon) {
    RecordedRequests().push_back({text, caption, buttons, icon});

    auto& answers = QueuedAnswers();
    if (!answers.empty()) {
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    if (!CanShowBoxes()) {
        // As a box closed without an answer: Cancel where there is one.
        qWarning("Unanswered message box \"%s\": \"%s\" taken as closed", qUtf8Printable(caption),
                 qUtf8Printable(text));
        return buttons == Buttons::OkCancel ? kCancel : kOk;
    }

    QMessageBox box(ToQtIcon(icon), caption, text, QMessageBox::NoButton, parent);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    ok->setText(QStringLiteral("确定"));
    box.setDefaultButton(ok);
    if (buttons == Buttons::OkCancel) {
        QPushButton* cancel = box.addButton(QMessageBox::Cancel);
        cancel->setText(QStringLiteral("取消"));
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.exec();
    if (buttons == Buttons::Ok) return kOk;
    return box.clickedButton() == ok ? kOk : kCancel;
}

void MessageBox::SetNextAnswer(int answer) {
    QueuedAnswers().push_back(answer);
}

void MessageBox::SetShowUnscriptedForTesting(bool on) {
    ShowUnscripted() = on;
}

const std::vector<MessageBox::Request>& MessageBox::Requests() {
    return RecordedRequests();
}

void MessageBox::ClearRequests() {
    RecordedRequests().clear();
}

void MessageBox::ResetForTesting() {
    QueuedAnswers().clear();
    RecordedRequests().clear();
    ShowUnscripted() = false;
}

}  // namespace zeza
