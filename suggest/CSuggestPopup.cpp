#include "suggest/CSuggestPopup.h"

#include <algorithm>

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>

#include "platform/GbkCodec.h"
#include "suggest/CSuggestEdit.h"
#include "suggest/SuggestMatch.h"

namespace zeza {
namespace {

constexpr int kBorder = 1;             // the frame is one border wide, whatever the style says
constexpr int kMaxUnscrolledRows = 8;  // rows shown before the list needs its scroll bar
constexpr int kMaxAnimatedRows = 50;   // longer lists jump instead of scrolling smoothly
constexpr int kRowLeft = 2;            // text inset; the strip left of it hits no row
constexpr int kScrollStepMs = 10;
constexpr int kPickHoldMs = 500;
constexpr int kHostCheckMs = 200;
constexpr int kSizingFrame = 4;  // a sizing frame's width, part of the smallest useful height

}  // namespace

CSuggestPopup::CSuggestPopup(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
    // Shown without activation and never focusable, so the field keeps the keyboard.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    m_hostTimer.setInterval(kHostCheckMs);
    connect(&m_hostTimer, &QTimer::timeout, this, &CSuggestPopup::OnHostTimer);
    m_scrollTimer.setTimerType(Qt::PreciseTimer);
    m_scrollTimer.setInterval(kScrollStepMs);
    connect(&m_scrollTimer, &QTimer::timeout, this, &CSuggestPopup::OnScrollStep);
    m_pickTimer.setTimerType(Qt::PreciseTimer);
    m_pickTimer.setSingleShot(true);
    m_pickTimer.setInterval(kPickHoldMs);
    connect(&m_pickTimer, &QTimer::timeout, this, &CSuggestPopup::hide);
}

CSuggestPopup::~CSuggestPopup() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

void CSuggestPopup::Bind(CSuggestEdit* field) {
    if (!m_scrollBar) {
        m_scrollBar = new QScrollBar(Qt::Vertical, this);
        m_scrollBar->setFocusPolicy(Qt::NoFocus);
        m_scrollBar->setGeometry(0, 0, ScrollBarExtent(), 100);
        connect(m_scrollBar, &QScrollBar::valueChanged, this, &CSuggestPopup::OnScrollValue);
    }
    PlaceScrollBar();
    m_pField = field;
    m_nRows = static_cast<int>(m_arrMatches.size());
    m_bSettingScroll = true;
    m_scrollBar->setValue(0);
    m_bSettingScroll = false;
    UpdateScrollBar();
    m_nRowHeight = std::max(1, QFontMetrics(font()).size(Qt::TextSingleLine, QStringLiteral("Hg")).height());
}

void CSuggestPopup::AddCandidate(const std::string& entry, const std::string& initials) {
    m_arrCandidates.push_back(entry);
    m_arrInitials.push_back(initials);
    m_bIndexStale = true;
}

std::string CSuggestPopup::InitialsOf(const std::string& entry) const {
    if (m_bIndexStale) {
        m_mapIndex.clear();
        m_mapIndex.reserve(m_arrCandidates.size());
        for (size_t i = 0; i < m_arrCandidates.size(); ++i) m_mapIndex.emplace(m_arrCandidates[i], i);
        m_bIndexStale = false;
    }
    const auto it = m_mapIndex.find(entry);
    return it == m_mapIndex.end() ? std::string() : m_arrInitials[it->second];
}

void CSuggestPopup::ClearCandidates() {
    m_arrCandidates.clear();
    m_arrInitials.clear();
    m_mapIndex.clear();
    m_bIndexStale = true;
    m_arrMatches.clear();
    // The rows shown were entries of the old list; they are gone now.
    m_nRows = 0;
    m_bOpenDeferred = false;
    hide();
}

int CSuggestPopup::ShowMatches(const std::string& text) {
    FinishScroll();
    const size_t before = m_arrMatches.size();
    m_bOpenDeferred = false;
    if (!m_pField || text.empty()) {
        hide();
        return -1;
    }
    if (m_bMatchNames)
        CollectNameMatches(m_arrCandidates, m_arrInitials, text, m_arrMatches);
    else
        CollectMatches(m_arrCandidates, text, m_arrMatches);
    m_nRows = static_cast<int>(m_arrMatches.size());
    if (m_nRows == 0) {
        hide();
        return 1;
    }
    // A field that is not on screen has no place to open below; it opens once shown.
    if (!m_pField->isVisible()) {
        m_bOpenDeferred = true;
        hide();
        return 1;
    }

    const int h = std::min(m_nRows, kMaxUnscrolledRows) * m_nRowHeight + 2 * kBorder;
    const QPoint topLeft = m_pField->mapToGlobal(QPoint(0, m_pField->height()));
    const QSize size = m_rcUserSize.isEmpty() ? QSize(m_pField->width(), h) : m_rcUserSize.size();
    setGeometry(QRect(topLeft, size));
    PlaceScrollBar();
    UpdateScrollBar();
    if (!isVisible()) show();
    update();

    if (m_arrMatches.size() != before) m_nSel = -1;
    return 1;
}

std::string CSuggestPopup::StepSelection(int key) {
    switch (key) {
        case Qt::Key_Down:
            ++m_nSel;
            break;
        case Qt::Key_Up:
            --m_nSel;
            break;
        case Qt::Key_PageUp:
            m_nSel = std::max(0, m_nSel - m_nPageRows);
            break;
        case Qt::Key_PageDown:
            m_nSel = std::min(m_nRows - 1, m_nSel + m_nPageRows);
            break;
        case Qt::Key_Home:
            m_nSel = 0;
            break;
        case Qt::Key_End:
            m_nSel = m_nRows - 1;
            break;
        default:
            break;
    }
    // Up and Down wrap around; the page keys stop at the ends above.
    if (m_nSel < 0) m_nSel = m_nRows - 1;
    if (m_nSel >= m_nRows) m_nSel = 0;
    if (ScrollToRow(m_nSel, m_nRows <= kMaxAnimatedRows)) Refresh();
    return SelectedText();
}

std::string CSuggestPopup::SelectedText() const {
    if (m_arrMatches.empty()) return std::string();
    if (m_nSel < 0 || m_nSel >= static_cast<int>(m_arrMatches.size())) return m_arrMatches.front();
    return m_arrMatches[m_nSel];
}

void CSuggestPopup::RevealSelection() {
    // A scroll under way was started for the highlighted row and ends with it in view.
    if (!m_scrollTimer.isActive()) ScrollToRow(m_nSel, false);
    repaint();
}

int CSuggestPopup::RowFromPoint(const QPoint& client) {
    const int right = ClientRect().width() - (ScrollBarShown() ? ScrollBarExtent() : 0);
    if (client.x() < kRowLeft || client.x() >= right || client.y() < 0) return -1;
    const int i = m_nTop + client.y() / m_nRowHeight;
    if (i >= m_nRows) return -1;
    m_nSel = i;
    return i;
}

bool CSuggestPopup::ScrollToRow(int row, bool animate) {
    // A scroll still under way ends where it was going before this one starts.
    FinishScroll();
    if (row == m_nTop || (row > m_nTop && row < m_nTop + m_nPageRows)) return false;
    int top = m_nTop;
    if (row > top) {
        // The row ends as the last visible one, unless the list ends first.
        while (top < row && top < m_nRows - m_nPageRows && top + m_nPageRows <= row) ++top;
    } else {
        // The row ends as the first visible one; -1 scrolls to the top.
        while (top > 0) {
            --top;
            if (top <= row) break;
        }
    }
    if (animate && top != m_nTop) {
        // One row every kScrollStepMs, each shown, without holding up the event loop.
        m_nScrollTarget = top;
        m_scrollTimer.start();
    } else {
        m_nTop = top;
    }
    Refresh();
    return true;
}

void CSuggestPopup::OnScrollStep() {
    if (m_nTop != m_nScrollTarget) m_nTop += m_nScrollTarget > m_nTop ? 1 : -1;
    if (m_nTop == m_nScrollTarget) m_scrollTimer.stop();
    Refresh();
}

void CSuggestPopup::FinishScroll() {
    if (!m_scrollTimer.isActive()) return;
    m_scrollTimer.stop();
    m_nTop = m_nScrollTarget;
    if (m_scrollBar) {
        m_bSettingScroll = true;
        m_scrollBar->setValue(m_nTop);
        m_bSettingScroll = false;
    }
    update();
}

void CSuggestPopup::UpdateScrollBar() {
    FinishScroll();
    if (m_nRows == 0 || !m_scrollBar) return;
    m_nPageRows = height() / m_nRowHeight;
    m_bSettingScroll = true;
    m_scrollBar->setRange(0, std::max(0, m_nRows - m_nPageRows));
    m_scrollBar->setPageStep(std::max(1, m_nPageRows));
    m_scrollBar->setSingleStep(1);
    m_scrollBar->setVisible(m_nRows > m_nPageRows);
    if (m_nTop + m_nPageRows > m_nRows) {
        m_nTop = std::max(0, m_nRows - m_nPageRows);
        m_scrollBar->setValue(m_nTop);
    }
    m_bSettingScroll = false;
}

void CSuggestPopup::PlaceScrollBar() {
    if (!m_scrollBar) return;
    const QRect c = ClientRect();
    const int sb = ScrollBarExtent();
    // One pixel up over the frame; the space below stays free for the size grip.
    m_scrollBar->setGeometry(c.left() + c.width() - sb, c.top() - 1, sb, c.height() - sb + 1);
    m_bSettingScroll = true;
    m_scrollBar->setValue(m_nTop);
    m_bSettingScroll = false;
}

void CSuggestPopup::Refresh() {
    if (m_scrollBar) {
        m_bSettingScroll = true;
        m_scrollBar->setValue(m_nTop);
        m_bSettingScroll = false;
    }
    repaint();
}

void CSuggestPopup::OnScrollValue(int value) {
    if (m_bSettingScroll) return;
    m_scrollTimer.stop();  // the user's own scrolling wins
    // Line and page steps, dragging and the wheel all arrive as the new first row.
    const int top = std::clamp(value, 0, std::max(0, m_nRows - m_nPageRows));
    if (top == m_nTop) return;
    m_nTop = top;
    update();
}

void CSuggestPopup::OnHostTimer() {
    // The popup does not move with the host window, so any change of it closes the list.
    if (HostRect() != m_rcHost) hide();
}

QRect CSuggestPopup::ClientRect() const {
    return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder);
}

QPoint CSuggestPopup::ToClient(const QPoint& widgetPos) const {
    return widgetPos - QPoint(kBorder, kBorder);
}

bool CSuggestPopup::InGrip(const QPoint& widgetPos) const {
    const int sb = ScrollBarExtent();
    return widgetPos.x() >= width() - sb && widgetPos.y() >= height() - sb && rect().contains(widgetPos);
}

int CSuggestPopup::ScrollBarExtent() const {
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

bool CSuggestPopup::ScrollBarShown() const {
    return m_scrollBar && !m_scrollBar->isHidden();
}

QSize CSuggestPopup::MinimumTrackingSize() const {
    const int sb = ScrollBarExtent();
    const int w = m_pField ? m_pField->width() : 4 * sb;
    // Enough height for the scroll bar's arrows and thumb, unless all rows fit in less.
    const int m = 2 * sb + kSizingFrame + style()->pixelMetric(QStyle::PM_ScrollBarSliderMin, nullptr, this);
    const int c = m_nRows * m_nRowHeight + 2 * kBorder;
    const int h = (m_nPageRows > m_nRows - 1 && c < m) ? c : m;
    return QSize(w, h);
}

QRect CSuggestPopup::HostRect() const {
    if (!m_pField) return QRect();
    // A minimised window keeps its geometry, yet the list must close with it.
    const QWidget* host = m_pField->window();
    return host->isMinimized() ? QRect() : host->geometry();
}

void CSuggestPopup::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette pal = palette();
    const QRect client = ClientRect();
    const int w = client.width();
    const int h = client.height();
    const int s = ScrollBarShown() ? ScrollBarExtent() : 0;

    // The frame: everything outside the client area.
    p.fillRect(rect(), pal.color(QPalette::Text));

    p.translate(client.topLeft());
    p.setClipRect(QRect(0, 0, w, h));
    p.fillRect(QRect(0, 0, w - s, h), pal.color(QPalette::Base));
    p.setFont(font());
    const QFontMetrics fm(font());

    const int rows = std::min<int>(m_nRows, static_cast<int>(m_arrMatches.size()));
    for (int i = m_nTop; i < rows; ++i) {
        const int top = m_nRowHeight * (i - m_nTop);
        if (top >= h) break;
        const QRect rc(kRowLeft, top, w - s - kRowLeft, m_nRowHeight);
        if (i == m_nSel) {
            p.fillRect(QRect(0, top, w - s, m_nRowHeight), pal.color(QPalette::Highlight));
            p.setPen(pal.color(QPalette::HighlightedText));
        } else {
            p.setPen(pal.color(QPalette::Text));
        }
        const QString entry = QString::fromStdString(GbkToUtf8(m_arrMatches[i]));
        p.drawText(rc, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   fm.elidedText(entry, Qt::ElideRight, rc.width()));
    }

    // The size grip: diagonal lines in the bottom-right corner; beside the
    // scroll bar the corner gets the button face behind them.
    const int sb = ScrollBarExtent();
    const QRect corner(w - sb, h - sb, sb, sb);
    if (s > 0) {
        p.fillRect(corner, pal.color(QPalette::Button));
        p.setClipRect(corner);
    }
    const QColor cycle[4] = {pal.color(QPalette::Base), pal.color(QPalette::Button),
                             pal.color(QPalette::Dark), pal.color(QPalette::Dark)};
    for (int j = 0; j < 20; ++j) {
        p.setPen(QPen(cycle[j % 4], 1));
        p.drawLine(QPoint(corner.left() + j - 1, h), QPoint(corner.left() + j + sb, h - sb - 1));
    }
}

void CSuggestPopup::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceScrollBar();
    UpdateScrollBar();
    if (!m_rcUserSize.isEmpty()) m_rcUserSize = geometry();
}

void CSuggestPopup::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_hostTimer.start();
    m_rcHost = HostRect();
    // Clicks elsewhere and activation changes close the list; watched only while it shows.
    qApp->installEventFilter(this);
    setCursor(Qt::ArrowCursor);
}

void CSuggestPopup::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_hostTimer.stop();
    m_scrollTimer.stop();
    m_pickTimer.stop();
    qApp->removeEventFilter(this);
    m_nSel = -1;
    m_nTop = 0;
    m_bSizing = false;
    setCursor(Qt::ArrowCursor);
}

void CSuggestPopup::mousePressEvent(QMouseEvent* event) {
    event->accept();
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        hide();
        return;
    }
    if (event->button() != Qt::LeftButton) return;

    if (InGrip(pos)) {
        // From the first drag of the grip on, every opening keeps the user's size.
        m_rcUserSize = geometry();
        m_bSizing = true;
        m_ptSizingStart = event->globalPosition().toPoint();
        m_sizeSizingStart = size();
        return;
    }

    const QPoint client = ToClient(pos);
    const int i = RowFromPoint(client);
    if (i < 0) {
        // Empty space below the last row keeps the list; the frame closes it.
        if (!QRect(QPoint(0, 0), ClientRect().size()).contains(client)) hide();
        return;
    }
    if (!ScrollToRow(i, true)) update();
    m_nSel = i;

    QPointer<CSuggestPopup> self(this);
    emit Picked();
    if (!self) return;
    repaint();
    // Keep the picked row on screen for a moment, then close (m_pickTimer).
    // Meanwhile the list takes no mouse input; a key or a click elsewhere
    // closes it first and then goes on to find it closed (eventFilter).
    m_pickTimer.start();
}

void CSuggestPopup::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    const QPoint pos = event->position().toPoint();
    if (m_bSizing) {
        const QPoint delta = event->globalPosition().toPoint() - m_ptSizingStart;
        resize((m_sizeSizingStart + QSize(delta.x(), delta.y())).expandedTo(MinimumTrackingSize()));
        return;
    }
    if (InGrip(pos)) {
        setCursor(Qt::SizeFDiagCursor);
        return;
    }
    setCursor(Qt::ArrowCursor);
    // The highlight follows the mouse.
    if (RowFromPoint(ToClient(pos)) >= 0) update();
}

void CSuggestPopup::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) m_bSizing = false;
}

void CSuggestPopup::keyPressEvent(QKeyEvent* event) {
    // Only reached if something hands the popup the focus after all.
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool CSuggestPopup::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel: {
            // The mouse meets the rows where a scroll under way ends, and not
            // at all while a picked row is held.
            auto* w = qobject_cast<QWidget*>(watched);
            if (w && (w == this || isAncestorOf(w))) {
                FinishScroll();
                if (m_pickTimer.isActive()) return true;
            }
            break;
        }
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
        case QEvent::InputMethod:
            if (m_pickTimer.isActive()) hide();
            break;
        default:
            break;
    }
    switch (event->type()) {
        case QEvent::ApplicationStateChange:
        case QEvent::ApplicationActivate:
        case QEvent::ApplicationDeactivate:
            if (watched == qApp) hide();
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress: {
            // A click anywhere but on the list or in the field closes the list.
            auto* w = qobject_cast<QWidget*>(watched);
            if (w && w != this && !isAncestorOf(w) && w != m_pField) hide();
            break;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace zeza
