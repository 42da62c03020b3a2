#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "app/CFundDlg.h"
#include "app/RefreshWorker.h"
#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "dialogs/CAlertSettingsDlg.h"
#include "dialogs/LedgerNotice.h"
#include "platform/Autostart.h"
#include "platform/DesktopNotify.h"
#include "platform/FileChooser.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "tests/TestSupport.h"

namespace zeza::test {

// The control of root with that object name (as the .ui file names it), or nullptr.
template <class T = QWidget>
T* Ctrl(QWidget* root, const char* name) {
    return root->findChild<T*>(QLatin1String(name));
}

// Puts every test hook back as a program has it: the core's (ResetCoreTestHooks), the
// message box and file chooser scripts, the shell's hooks (opened URLs, started
// programs), the main window's background refresh, the refresh thread's sleeps, the
// damaged ledger's notice (told again), the desktop notifications, the tray and the
// login entries' folder.
// Runs before every GUI test (GuiTestMain.cpp) and after every fixture's test.
inline void ResetTestHooks() {
    ResetCoreTestHooks();
    MessageBox::ResetForTesting();
    FileChooser::ResetForTesting();
    Shell::SetOpenUrlHook(nullptr);
    Shell::SetStartProgramHook(nullptr);
    CFundDlg::SetAutoRefreshForTesting(true);
    RefreshWorker::SetSleepForTesting(0, 0);
    ResetLedgerNoticeForTesting();
    SetDesktopNotifyHookForTesting(nullptr);
    CAlertSettingsDlg::SetTrayAvailableForTesting(-1);
    SetAutostartFolderForTesting("");
}

// The direct child controls of root that are shown: each lies wholly inside root and
// overlaps no other, so none is cut off or hidden under another.
inline void ExpectControlsInsideAndApart(QWidget* root) {
    std::vector<QWidget*> shown;
    for (QWidget* w : root->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisibleTo(root) && !w->isWindow()) shown.push_back(w);
    for (size_t i = 0; i < shown.size(); ++i) {
        const std::string a = shown[i]->objectName().toStdString();
        EXPECT_TRUE(root->rect().contains(shown[i]->geometry())) << a << " reaches out of the window";
        for (size_t j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << a << " overlaps " << shown[j]->objectName().toStdString();
    }
}

// A menu's entries in order, "-" for a separator; none without a menu.
inline QStringList MenuItems(const QMenu* m) {
    QStringList items;
    if (m)
        for (QAction* a : m->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return items;
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

// Notes each turn of the UI thread's event loop, whichever loop turns it (a modal
// box's too): a 10 ms timer records when it fired. Work that holds the UI thread
// shows as one pause as long as that work.
class UiPauseMeter {
  public:
    using Clock = std::chrono::steady_clock;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    static constexpr Clock::duration kBar = std::chrono::milliseconds(1000);  // sanitizers slow every step
#else
    // The longest pause of a window that answers at once.
    static constexpr Clock::duration kBar = std::chrono::milliseconds(100);
#endif

    UiPauseMeter() : m_turns{Clock::now()} {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_turns.push_back(Clock::now()); });
        m_timer.start();
    }
    // The longest pause between two turns that reaches past since; the caller,
    // on the UI thread, is a turn too.
    Clock::duration WorstPauseAfter(Clock::time_point since) const {
        std::vector<Clock::time_point> turns = m_turns;
        turns.push_back(Clock::now());
        Clock::duration worst{0};
        for (size_t i = 1; i < turns.size(); ++i)
            if (turns[i] > since) worst = std::max(worst, turns[i] - turns[i - 1]);
        return worst;
    }

  private:
    QTimer m_timer;
    std::vector<Clock::time_point> m_turns;
};

// Makes ./Zeza.db exist and stores password (GBK) as the start-up password.
inline void StorePassword(const std::string& gbk) {
    { CFundDb provision; }
    ASSERT_EQ(CFundDb::StorePassword(gbk), 0);
}

// A GUI test in a fresh folder (the current one, and the cache folder too), with
// no database yet; every test hook is reset afterwards.
class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("XDG_CACHE_HOME", dir.Path().c_str(), 1); }
    void TearDown() override {
        ResetTestHooks();
        unsetenv("XDG_CACHE_HOME");
    }

    ScopedTempDir dir;
};

// The main window's tests: no background refresh unless a test asks for it, and the
// URLs the window hands to the user's browser collected in openedUrls.
class MainWindowFixture : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        CFundDlg::SetAutoRefreshForTesting(false);
        Shell::SetOpenUrlHook([this](const QString& url) {
            openedUrls << url;
            return true;
        });
    }
    void TearDown() override {
        if (dlg) dlg->reject();
        dlg.reset();
        GuiTest::TearDown();
    }
    // A new main window, shown.
    CFundDlg* ShowMainWindow() {
        dlg = std::make_unique<CFundDlg>();
        dlg->show();
        return dlg.get();
    }

    std::unique_ptr<CFundDlg> dlg;
    QStringList openedUrls;
};

// A dialog D shown (by Show) and active as a modal run has it, with its controls by
// name, in a fresh folder whose ./Zeza.db is made from the template.
template <class D>
class DialogTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        CFundDb provision;
    }
    void TearDown() override {
        dlg.reset();
        GuiTest::TearDown();
    }
    // Shows d, which becomes dlg, and waits until it is the active window.
    void Show(std::unique_ptr<D> d) {
        dlg = std::move(d);
        dlg->show();
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }

    template <class T = QWidget>
    T* Find(const char* name) {
        T* w = Ctrl<T>(dlg.get(), name);
        EXPECT_NE(w, nullptr) << "no " << name;
        return w;
    }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
    QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
    QString Text(const char* label) { return Find<QLabel>(label)->text(); }
    QWidget* Focus() { return QApplication::focusWidget(); }
    // A key as the user presses it: to whatever has the focus.
    void Press(int key) { QTest::keyClick(Focus(), static_cast<Qt::Key>(key)); }
    // Replaces a field's text as the user would, and leaves the focus in it.
    void Type(const char* field, const QString& text) {
        QLineEdit* e = Edit(field);
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        TypeText(e, text);
    }
    void Click(const char* button) { QTest::mouseClick(Button(button), Qt::LeftButton); }
    bool Closed(int result) { return !dlg->isVisible() && dlg->result() == result; }

    std::unique_ptr<D> dlg;
};

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
