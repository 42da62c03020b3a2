#include "web/CWebBrowser2.h"

#include <QCoreApplication>
#include <QVBoxLayout>

#include "platform/Shell.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextBrowser>

#ifdef ZEZA_HAVE_WEBENGINE
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

namespace zeza {

#ifdef ZEZA_HAVE_WEBENGINE
namespace {

// A page whose clicked links, and pages asking for a new window, go to the
// user's browser; the program's own navigations, redirects and form posts stay.
class PanePage : public QWebEnginePage {
  public:
    using QWebEnginePage::QWebEnginePage;

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (type == NavigationTypeLinkClicked && isMainFrame) {
            Shell::OpenUrl(url.toString());
            return false;
        }
        return true;
    }

    QWebEnginePage* createWindow(WebWindowType) override {
        // The new window's first navigation is handed on and the page dropped.
        auto* popup = new PanePage(this);
        connect(popup, &QWebEnginePage::urlChanged, popup, [popup](const QUrl& url) {
            if (url.isEmpty()) return;
            Shell::OpenUrl(url.toString());
            popup->deleteLater();
        });
        return popup;
    }
};

}  // namespace
#endif

CWebBrowser2::CWebBrowser2(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
#ifndef ZEZA_HAVE_WEBENGINE
    m_bLight = true;
    CreateLightPane();
#endif
}

CWebBrowser2::~CWebBrowser2() {
    if (m_pReply) {
        m_pReply->disconnect(this);
        m_pReply->abort();
    }
}

void CWebBrowser2::CreateLightPane() {
    if (m_pText) return;
    m_pText = new QTextBrowser(this);
    m_pText->setFrameShape(QFrame::NoFrame);
    m_pText->setOpenLinks(false);
    connect(m_pText, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& link) { Shell::OpenUrl(QUrl(m_strUrl).resolved(link).toString()); });
    layout()->addWidget(m_pText);
    m_pNet = new QNetworkAccessManager(this);
}

#ifdef ZEZA_HAVE_WEBENGINE
void CWebBrowser2::CreateFullBrowser() {
    // The browser engine and its helper processes start here, not with the window.
    m_pView = new QWebEngineView(this);
    m_pView->setPage(new PanePage(m_pView));
    m_pView->setContextMenuPolicy(Qt::NoContextMenu);
    layout()->addWidget(m_pView);
    // Only loads that end count: a load cut short (a newer navigation, a link
    // handed to the user's browser) reports nothing, as in the light pane.
    connect(m_pView->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) {
                if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) emit PageShown(true);
                if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) emit PageShown(false);
            });
}
#endif

bool CWebBrowser2::HasFullBrowser() {
#ifdef ZEZA_HAVE_WEBENGINE
    return true;
#else
    return false;
#endif
}

void CWebBrowser2::PrepareApplication() {
#ifdef ZEZA_HAVE_WEBENGINE
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
}

void CWebBrowser2::UseLightPane() {
#ifdef ZEZA_HAVE_WEBENGINE
    if (m_pView) return;
#endif
    m_bLight = true;
    CreateLightPane();
}

bool CWebBrowser2::IsFullBrowser() const {
    return !m_bLight;
}

void CWebBrowser2::Navigate(const QString& url) {
    m_strUrl = url;
#ifdef ZEZA_HAVE_WEBENGINE
    if (!m_bLight) {
        if (!m_pView) CreateFullBrowser();
        m_pView->setUrl(QUrl(url));
        return;
    }
#endif
    NavigateLight(url);
}

void CWebBrowser2::NavigateLight(const QString& url) {
    if (m_pReply) {
        m_pReply->disconnect(this);
        m_pReply->abort();
        m_pReply->deleteLater();
        m_pReply = nullptr;
    }
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(30000);
    QNetworkReply* reply = m_pNet->get(request);
    m_pReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply != m_pReply) return;
        m_pReply = nullptr;
        reply->deleteLater();
        bool ok = reply->error() == QNetworkReply::NoError;
        if (ok) {
            // Pages are small; anything large is not a page this pane should show.
            QByteArray body = reply->read(2 * 1024 * 1024);
            m_pText->setHtml(QString::fromUtf8(body));
        } else {
            m_pText->setHtml(QString());
        }
        emit PageShown(ok);
    });
}

void CWebBrowser2::ReadShownText(std::function<void(const QString&)> done) const {
#ifdef ZEZA_HAVE_WEBENGINE
    if (m_pView) {
        m_pView->page()->toPlainText(std::move(done));
        return;
    }
#endif
    done(m_pText ? m_pText->toPlainText() : QString());
}

}  // namespace zeza
