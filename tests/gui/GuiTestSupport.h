#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QTest>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include "app/CFundDlg.h"
#include "db/CFundDb.h"
#include "db/SqlAccess.h"

namespace zeza::test {

// The control of root whose template id is id, or nullptr.
template <class T = QWidget>
T* Ctrl(QWidget* root, int id) {
    for (T* w : root->findChildren<T*>()) {
        if (w->property("ctrlId").toInt() == id) return w;
    }
    return nullptr;
}

// A template rectangle in dialog units as pixels (one unit is 1.5 pixels, halves round up).
inline QRect DuRect(int x, int y, int w, int h) {
    auto px = [](int v) { return (3 * v + 1) / 2; };
    return QRect(px(x), px(y), px(w), px(h));
}

// Types text into w: ASCII as key presses, anything else as committed input-method text.
inline void TypeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
            QTest::keyClick(w, c.toLatin1());
        } else {
            QInputMethodEvent ev;
            ev.setCommitString(QString(c));
            QApplication::sendEvent(w, &ev);
        }
    }
}

// Runs the event loop until pred holds or timeoutMs pass; says whether it held.
// (Qt's QTRY_ macros only return from the test function on a timeout, which
// GoogleTest would count as a pass, so waits go through this.)
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > timeoutMs) return false;
        QTest::qWait(10);
    }
    return true;
}

// Makes ./Zeza.db exist and stores password (GBK) as the start-up password.
inline void StorePassword(const std::string& gbk) {
    { CFundDb provision; }
    ASSERT_EQ(ExecSql("UPDATE fu_iniLoc SET pwd=?", {gbk}), 0);
}

// Answers the modal dialogs of a run in order, from the event loop of the
// dialog being run. A modal dialog that is not the next expected one, or no
// dialog within the time limit, fails the test and is rejected, so a wrong
// script never hangs. Also notes whether a main window ever existed.
class ModalScript {
  public:
    ModalScript() {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
        m_timer.start();
        m_stepClock.start();
    }

    // The next modal dialog must be a T; fn acts on it.
    template <class T>
    ModalScript& Then(std::function<void(T*)> fn) {
        m_steps.push_back([fn = std::move(fn)](QWidget* w) {
            T* t = qobject_cast<T*>(w);
            if (!t) return false;
            fn(t);
            return true;
        });
        return *this;
    }

    bool AllStepsRan() const { return m_next == m_steps.size(); }
    bool MainWindowSeen() const { return m_bMainSeen; }

  private:
    static void Dismiss(QWidget* w) {
        if (auto* d = qobject_cast<QDialog*>(w))
            d->reject();
        else
            w->close();
    }

    void Tick() {
        if (g_pMainDlg) m_bMainSeen = true;
        // A step that waits in its own event loop must not be run again meanwhile.
        if (m_bBusy) return;
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            if (m_next < m_steps.size()) {
                m_bBusy = true;
                const bool ran = m_steps[m_next](modal);
                m_bBusy = false;
                if (ran) {
                    ++m_next;
                    m_stepClock.restart();
                    return;
                }
            }
            ADD_FAILURE() << "unexpected modal window " << modal->metaObject()->className() << " \""
                          << modal->windowTitle().toStdString() << "\"";
            Dismiss(modal);
            return;
        }
        if (m_next < m_steps.size() && m_stepClock.elapsed() > 10000) {
            ADD_FAILURE() << "modal window of step " << m_next << " never appeared";
            m_next = m_steps.size();
        }
    }

    QTimer m_timer;
    QElapsedTimer m_stepClock;
    std::vector<std::function<bool(QWidget*)>> m_steps;
    size_t m_next = 0;
    bool m_bMainSeen = false;
    bool m_bBusy = false;
};

}  // namespace zeza::test
