#pragma once

#include <vector>

#include <QString>

class QWidget;

namespace zeza {

// Every message box of the program goes through here, so that tests can answer
// boxes from a script instead of a user and read back which boxes were asked for.
// Like the file chooser seam, nothing ever waits for a user who cannot see the
// box: on a platform without a screen an unscripted box is taken as closed.
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
    // returns kOk however it is closed. Where no box can be shown (the offscreen
    // and minimal platforms) and no answer is queued, the box is recorded and
    // taken as closed without an answer: kCancel for OK/Cancel, kOk for OK only.
    static int Show(QWidget* parent, const QString& text, const QString& caption, Buttons buttons, Icon icon);

    // Tests: queue the answer of the next box; while answers are queued no box
    // is shown and each call takes the oldest one.
    static void SetNextAnswer(int answer);
    // Tests: with on, a box without a queued answer is shown as a real modal box
    // also on a platform without a screen, for a test that answers it itself
    // (for example with ModalScript). Off again after ResetForTesting.
    static void SetShowUnscriptedForTesting(bool on);
    // Tests: every box asked for since the last ClearRequests, oldest first.
    static const std::vector<Request>& Requests();
    static void ClearRequests();
    // Tests: drops queued answers and recorded requests, and turns
    // SetShowUnscriptedForTesting off.
    static void ResetForTesting();
};

}  // namespace zeza
