#pragma once

#include <string>

#include <QLineEdit>

#include "suggest/CSuggestPopup.h"

namespace zeza {

// A type-ahead field for funds: while the user types, the entries that
// begin with the text (code "-" short name, GBK), and where names are matched
// too those found by name or pinyin initials after them, open in a popup below the
// field; the arrow and page keys step through them and write the highlighted
// entry into the field at once, a click takes an entry and closes the list.
// Until Setup has run it is a plain line edit.
class CSuggestEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit CSuggestEdit(QWidget* parent = nullptr);
    ~CSuggestEdit() override;

    // Binds the popup and starts matching. Once, after the host has built its controls.
    void Setup();
    // Appends one entry (GBK) to the suggestions, with the pinyin initials of
    // its name when known; nothing before Setup.
    void AddCandidate(const std::string& entry, const std::string& initials = std::string());
    // Empties the suggestions and closes the list; nothing before Setup.
    void ClearCandidates();
    // Whether a fund is also found by its name and pinyin initials (the main
    // window's search field) or only by the start of its entry (a code field,
    // the default).
    void SetMatchNames(bool on) { m_popup.SetMatchNames(on); }
    // The pinyin initials given with an entry; empty for an unknown one.
    std::string InitialsOf(const std::string& entry) const { return m_popup.InitialsOf(entry); }

    // Handles a key for the list: Escape and Enter close it; Down, Up, Page Up,
    // Page Down, Home and End step through it while it is open (from the
    // popup: take the clicked row). True when the key is used up.
    bool ApplyKey(int key, bool fromPopup);

    // The field's text in GBK as last read or written.
    const std::string& SuggestText() const { return m_strText; }
    bool IsBusy() const { return m_bBusy; }
    int Kind() const { return m_nKind; }
    CSuggestPopup& Popup() { return m_popup; }
    const CSuggestPopup& Popup() const { return m_popup; }

  signals:
    // An entry of the list was written into the field (after its text change).
    void SuggestPicked();
    // The field's text changed, typed or written, after the list was updated.
    void SuggestTextChanged();

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void OnTextChanged();
    void OnPopupPicked();
    static bool IsListKey(int key);

    CSuggestPopup m_popup;
    std::string m_strText;
    bool m_bBusy = false;
    int m_nKind = -1;
};

}  // namespace zeza
