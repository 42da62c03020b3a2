#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>

class QScrollBar;

namespace zeza {

class CSuggestEdit;

// The list of matching suggestion entries shown below a CSuggestEdit. It is a
// window of its own so that it can reach beyond the host dialog, and it never
// takes the keyboard focus: the field keeps it while the user types, steps
// through the rows and clicks them. Entries are GBK; only drawing converts.
class CSuggestPopup : public QWidget {
    Q_OBJECT

  public:
    explicit CSuggestPopup(QWidget* parent = nullptr);
    ~CSuggestPopup() override;

    // Creates the scroll bar, measures the row height and remembers the field.
    void Bind(CSuggestEdit* field);

    // Rebuilds the matches of text and opens, places and sizes the popup, or
    // closes it when nothing matches. -1 when closed for an empty text, else 1.
    int ShowMatches(const std::string& text);
    // Moves the highlight for a navigation key (Qt::Key_Down, Up, PageUp,
    // PageDown, Home, End; Up and Down wrap), scrolls it into view and returns
    // the newly highlighted entry.
    std::string StepSelection(int key);
    // The highlighted entry; the first one when none is highlighted; "" when
    // there are no matches.
    std::string SelectedText() const;
    // Brings the highlighted row into view at once and repaints; a scroll under
    // way to it goes on.
    void RevealSelection();

    // Appends an entry with the pinyin initials of its name (empty when unknown).
    void AddCandidate(const std::string& entry, const std::string& initials = std::string());
    void ClearCandidates();
    // Off: an entry matches when it begins with the text (a code field).
    // On: also by name and pinyin initials, after those (the search field).
    void SetMatchNames(bool on) { m_bMatchNames = on; }
    // The initials given with the candidate entry; empty when it is no candidate.
    std::string InitialsOf(const std::string& entry) const;

    const std::vector<std::string>& Candidates() const { return m_arrCandidates; }
    const std::vector<std::string>& Matches() const { return m_arrMatches; }
    int SelectedRow() const { return m_nSel; }
    int TopRow() const { return m_nTop; }
    int RowCount() const { return m_nRows; }
    int PageRows() const { return m_nPageRows; }
    int RowHeight() const { return m_nRowHeight; }
    const QScrollBar* ScrollBar() const { return m_scrollBar; }
    bool HasUserSize() const { return !m_rcUserSize.isEmpty(); }
    // True when matches were rebuilt while the field was not on screen; the
    // field opens the popup once it is shown.
    bool IsOpenDeferred() const { return m_bOpenDeferred; }

  signals:
    // The user clicked a row, which is now the highlighted one. Emitted while
    // the popup is still visible; the field writes the entry before it returns.
    // The row stays highlighted for half a second, then the popup closes; a
    // key closes it at once.
    void Picked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Row under a point of the client area; makes it the highlighted one. -1 for none.
    int RowFromPoint(const QPoint& client);
    // Scrolls so that row becomes visible: when animate is set row by row on
    // m_scrollTimer, the top row reaching its place step by step after the
    // return. Returns whether it scrolls.
    bool ScrollToRow(int row, bool animate);
    // One row of an animated scroll.
    void OnScrollStep();
    // Puts an animated scroll under way at its end at once.
    void FinishScroll();
    void UpdateScrollBar();
    void PlaceScrollBar();
    // Repaints at once, with the scroll bar following m_nTop.
    void Refresh();
    void OnScrollValue(int value);
    void OnHostTimer();

    QRect ClientRect() const;  // in widget coordinates, inside the one-pixel frame
    QPoint ToClient(const QPoint& widgetPos) const;
    bool InGrip(const QPoint& widgetPos) const;
    int ScrollBarExtent() const;
    bool ScrollBarShown() const;
    QSize MinimumTrackingSize() const;
    QRect HostRect() const;

    std::vector<std::string> m_arrCandidates;
    std::vector<std::string> m_arrInitials;  // one per candidate
    std::vector<std::string> m_arrMatches;
    // Candidate index by entry, built on the first InitialsOf after a change.
    mutable std::unordered_map<std::string, size_t> m_mapIndex;
    mutable bool m_bIndexStale = true;
    bool m_bMatchNames = false;
    QScrollBar* m_scrollBar = nullptr;
    QRect m_rcUserSize;
    QRect m_rcHost;
    CSuggestEdit* m_pField = nullptr;
    QTimer m_hostTimer;
    QTimer m_scrollTimer;     // runs while an animated scroll is under way
    int m_nScrollTarget = 0;  // the top row it ends at
    QTimer m_pickTimer;       // runs while a picked row is shown before the list closes
    int m_nTop = 0;
    int m_nRows = 0;
    int m_nRowHeight = 16;
    int m_nPageRows = 0;
    int m_nSel = -1;

    bool m_bOpenDeferred = false;
    bool m_bSizing = false;  // the user is dragging the grip
    QPoint m_ptSizingStart;  // global position of the grip press
    QSize m_sizeSizingStart;
    bool m_bSettingScroll = false;  // the scroll bar is being moved by the popup itself
};

}  // namespace zeza
