#include "web/CWebBrowser2.h"

#include <QVBoxLayout>

#ifdef ZEZA_HAVE_WEBENGINE
#include <QWebEngineView>
#else
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextBrowser>
#endif

namespace zeza {

CWebBrowser2::CWebBrowser2(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
#ifdef ZEZA_HAVE_WEBENGINE
    m_pView = new QWebEngineView(this);
    layout->addWidget(m_pView);
    connect(m_pView, &QWebEngineView::loadFinished, this, &CWebBrowser2::PageShown);
#else
    m_pText = new QTextBrowser(this);
    m_pText->setFrameShape(QFrame::NoFrame);
    // Links in the light pane open in the user's browser, never inside it.
    m_pText->setOpenExternalLinks(true);
    m_pText->setOpenLinks(false);
    layout->addWidget(m_pText);
    m_pNet = new QNetworkAccessManager(this);
#endif
}

CWebBrowser2::~CWebBrowser2() {
#ifndef ZEZA_HAVE_WEBENGINE
    if (m_pReply) {
        m_pReply->disconnect(this);
        m_pReply->abort();
    }
#endif
}

bool CWebBrowser2::HasFullBrowser() {
#ifdef ZEZA_HAVE_WEBENGINE
    return true;
#else
    return false;
#endif
}

void CWebBrowser2::Navigate(const QString& url) {
    m_strUrl = url;
#ifdef ZEZA_HAVE_WEBENGINE
    m_pView->setUrl(QUrl(url));
#else
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
#endif
}

QString CWebBrowser2::ShownText() const {
#ifdef ZEZA_HAVE_WEBENGINE
    return QString();
#else
    return m_pText->toPlainText();
#endif
}

}  // namespace zeza
