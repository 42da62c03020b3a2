#pragma once

#include <functional>

#include <QString>
#include <QWidget>

class QNetworkAccessManager;
class QNetworkReply;
class QTextBrowser;
class QWebEngineView;

namespace zeza {

// A pane that shows one web page of the data server inside the main window.
// With Qt WebEngine in the build it hosts a full browser view, made on the
// first navigation so that the engine starts only for a page that is shown;
// without it, or when asked for a light pane, it fetches the page and shows
// its HTML as rich text. The program only navigates, moves, shows and hides
// it. In both, a link the user clicks opens in the user's browser (through
// the shell), so the pane always keeps the page the program put there; form
// posts stay in the pane.
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
    // Must run before the QApplication is made: the full browser shares its
    // OpenGL contexts with the widgets. Does nothing for the light pane.
    static void PrepareApplication();

    // Hands the plain text currently shown to done, later or at once (the full
    // browser reads it from its page process). For tests and diagnostics.
    void ReadShownText(std::function<void(const QString&)> done) const;

  signals:
    // Emitted when the page navigated to has arrived and is shown (true), or
    // could not be fetched (false); never for a load cut short by a newer one.
    void PageShown(bool ok);

  private:
    void CreateLightPane();
    void NavigateLight(const QString& url);

    QString m_strUrl;
    bool m_bLight = false;
#ifdef ZEZA_HAVE_WEBENGINE
    void CreateFullBrowser();
    QWebEngineView* m_pView = nullptr;
#endif
    QTextBrowser* m_pText = nullptr;
    QNetworkAccessManager* m_pNet = nullptr;
    QNetworkReply* m_pReply = nullptr;
};

}  // namespace zeza
