#include "web/FullBrowserPane.h"

#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>

namespace zeza {

namespace {

// A page whose clicked links, and pages asking for a new window, go to the
// user's browser; the program's own navigations, redirects and form posts stay.
class PanePage : public QWebEnginePage {
  public:
    PanePage(std::function<void(const QUrl&)> openLink, QObject* parent)
        : QWebEnginePage(parent), m_openLink(std::move(openLink)) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (type == NavigationTypeLinkClicked && isMainFrame) {
            m_openLink(url);
            return false;
        }
        return true;
    }

    QWebEnginePage* createWindow(WebWindowType) override {
        // The new window's first navigation is handed on and the page dropped.
        auto* popup = new PanePage(m_openLink, this);
        connect(popup, &QWebEnginePage::urlChanged, popup, [popup](const QUrl& url) {
            if (url.isEmpty()) return;
            popup->m_openLink(url);
            popup->deleteLater();
        });
        return popup;
    }

  private:
    std::function<void(const QUrl&)> m_openLink;
};

}  // namespace

FullBrowserPane::FullBrowserPane(QWidget* parent, PageViewHooks hooks)
    : QWebEngineView(parent), m_hooks(std::move(hooks)) {
    // The browser engine and its helper processes start here, not with the window.
    setPage(new PanePage(m_hooks.openLink, this));
    setContextMenuPolicy(Qt::NoContextMenu);
    // Only loads that end count: a load cut short (a newer navigation, a link
    // handed to the user's browser) reports nothing, as in the light pane.
    connect(page(), &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) m_hooks.pageShown(true);
        if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) m_hooks.pageShown(false);
    });
}

void FullBrowserPane::Navigate(const QUrl& url) {
    setUrl(url);
}

void FullBrowserPane::ReadShownText(std::function<void(const QString&)> done) const {
    page()->toPlainText(std::move(done));
}

void FullBrowserPane::RunScript(const QString& script) {
    page()->runJavaScript(script);
}

PageView* FullBrowserModule::CreatePageView(QWidget* parent, PageViewHooks hooks) {
    return new FullBrowserPane(parent, std::move(hooks));
}

}  // namespace zeza
