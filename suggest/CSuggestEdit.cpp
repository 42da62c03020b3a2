#include "suggest/CSuggestEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>

#include "platform/GbkCodec.h"

namespace zeza {

CSuggestEdit::CSuggestEdit(QWidget* parent) : QLineEdit(parent), m_popup(this) {}

CSuggestEdit::~CSuggestEdit() = default;

void CSuggestEdit::Setup() {
    if (m_nKind == 1) return;
    // Where the list would first appear; every opening places it again below the field.
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    m_popup.setGeometry(origin.x(), origin.y() + 20, 200, 180);
    m_nKind = 1;
    m_popup.Bind(this);
    connect(&m_popup, &CSuggestPopup::Picked, this, &CSuggestEdit::OnPopupPicked);
    connect(this, &QLineEdit::textChanged, this, &CSuggestEdit::OnTextChanged);
}

void CSuggestEdit::AddCandidate(const std::string& entry, const std::string& initials) {
    if (m_nKind == -1) return;
    m_popup.AddCandidate(entry, initials);
}

void CSuggestEdit::ClearCandidates() {
    if (m_nKind == -1) return;
    m_popup.ClearCandidates();
}

void CSuggestEdit::OnTextChanged() {
    if (m_nKind == -1) return;
    const std::string utf8 = text().toStdString();
    m_strText = Utf8ToGbk(utf8);
    if (!m_bBusy) {
        // A character GBK cannot hold comes back as '?', which must not match a real '?'.
        if (GbkToUtf8(m_strText) == utf8)
            m_popup.ShowMatches(m_strText);
        else
            m_popup.ShowMatches(std::string());
    }
    emit SuggestTextChanged();
}

bool CSuggestEdit::IsListKey(int key) {
    switch (key) {
        case Qt::Key_Down:
        case Qt::Key_Up:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            return false;
    }
}

bool CSuggestEdit::ApplyKey(int key, bool fromPopup) {
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
        m_popup.hide();
        return true;
    }
    // Left and Right are not list keys: they move the caret.
    if (!IsListKey(key)) return false;
    if (!m_popup.isVisible()) return false;

    m_bBusy = true;
    m_strText = fromPopup ? m_popup.SelectedText() : m_popup.StepSelection(key);
    m_popup.RevealSelection();
    const QString entry = QString::fromStdString(GbkToUtf8(m_strText));
    if (entry == text())
        OnTextChanged();  // an unchanged text still counts as written
    else
        setText(entry);
    setCursorPosition(static_cast<int>(text().size()));  // caret at the end, nothing selected
    setModified(true);
    emit SuggestPicked();
    m_bBusy = false;
    return true;
}

void CSuggestEdit::OnPopupPicked() {
    ApplyKey(Qt::Key_Down, true);
}

bool CSuggestEdit::event(QEvent* event) {
    // While the list is open, its keys belong to the field: no shortcut of the
    // window may take them first.
    if (event->type() == QEvent::ShortcutOverride && m_nKind == 1 && m_popup.isVisible()) {
        auto* ke = static_cast<QKeyEvent*>(event);
        const int key = ke->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter || IsListKey(key)) {
            ke->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CSuggestEdit::keyPressEvent(QKeyEvent* event) {
    if (m_nKind == 1) {
        const int key = event->key();
        const bool closing = key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
        // Enter and Escape close an open list and never reach the dialog then;
        // with the list closed they go on to the default button or the dialog.
        if ((!closing || m_popup.isVisible()) && ApplyKey(key, false)) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void CSuggestEdit::focusOutEvent(QFocusEvent* event) {
    m_popup.hide();
    QLineEdit::focusOutEvent(event);
}

void CSuggestEdit::showEvent(QShowEvent* event) {
    QLineEdit::showEvent(event);
    // Text set while the field was not on screen opens its list once the window is there.
    if (m_nKind == 1 && m_popup.IsOpenDeferred())
        QTimer::singleShot(0, this, [this] {
            if (m_popup.IsOpenDeferred() && isVisible()) m_popup.ShowMatches(m_strText);
        });
}

}  // namespace zeza
