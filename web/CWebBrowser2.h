#pragma once

#include <functional>

#include <QString>
#include <QWidget>

namespace zeza {

class PageView;

// A pane that shows one web page of the data server inside the main window.
// Where the full browser is built (Qt WebEngine, in the zeza_webpane module
// beside the program) it hosts a full browser view, loaded and made on the
// first navigation so that the engine's libraries and processes come only for
// a page that is shown; without it, when the module cannot be loaded, or when
// asked for a light pane, it fetches the page and shows its HTML as rich text
// (LightPane). The program only navigates, moves, shows and hides it. In
// both, a link the user clicks opens in the user's browser (through the
// shell), so the pane always keeps the page the program put there; form posts
// stay in the pane.
class CWebBrowser2 : public QWidget {
    Q_OBJECT

  public:
    explicit CWebBrowser2(QWidget* parent = nullptr);
    ~CWebBrowser2() override;

    // Starts loading url and returns at once.
    void Navigate(const QString& url);

    // Makes this pane a light one even where the full browser is built (pages
    // without scripts, such as the banner). Before the first navigation.
    void UseLightPane();
    // Whether this pane shows pages in the full browser.
    bool IsFullBrowser() const;

    // The address last navigated to ("" before the first navigation).
    QString LastUrl() const { return m_strUrl; }
    // Whether this build hosts a full browser view.
    static bool HasFullBrowser();

    // Hands the plain text currently shown to done, later or at once (the full
    // browser reads it from its page process). For tests and diagnostics.
    void ReadShownText(std::function<void(const QString&)> done) const;
    // Runs script in the shown page of the full browser; the light pane runs
    // no scripts. For tests and diagnostics.
    void RunScript(const QString& script);

  signals:
    // Emitted when the page navigated to has arrived and is shown (true), or
    // could not be fetched (false); never for a load cut short by a newer one.
    void PageShown(bool ok);

  private:
    void CreateView();

    QString m_strUrl;
    bool m_bLight = false;
    PageView* m_pView = nullptr;  // a child widget: the full browser made on the first navigation
};

}  // namespace zeza
