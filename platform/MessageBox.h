#pragma once

#include <vector>

#include <QString>

class QWidget;

namespace zeza {

// Every message box of the program goes through here, so that tests can answer
// boxes from a script instead of a user and read back which boxes were asked for.
class MessageBox {
  public:
    enum class Buttons { Ok, OkCancel };
    enum class Icon { None, Information, Question, Warning };

    // What Show returns: the button the user chose.
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    // One box as it was asked for.
    struct Request {
        QString text;
        QString caption;
        Buttons buttons;
        Icon icon;
    };

    // Shows a modal box and returns kOk or kCancel. A box with only "OK"
    // returns kOk however it is closed.
    static int Show(QWidget* parent, const QString& text, const QString& caption, Buttons buttons, Icon icon);

    // Tests: queue the answer of the next box; while answers are queued no box
    // is shown and each call takes the oldest one.
    static void SetNextAnswer(int answer);
    // Tests: every box asked for since the last ClearRequests, oldest first.
    static const std::vector<Request>& Requests();
    static void ClearRequests();
    // Tests: drops queued answers and recorded requests.
    static void ResetForTesting();
};

}  // namespace zeza
