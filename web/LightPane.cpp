#include "web/LightPane.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace zeza {

LightPane::LightPane(QWidget* parent, PageViewHooks hooks) : QTextBrowser(parent), m_hooks(std::move(hooks)) {
    setFrameShape(QFrame::NoFrame);
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& link) { m_hooks.openLink(m_url.resolved(link)); });
    m_pNet = new QNetworkAccessManager(this);
}

LightPane::~LightPane() {
    DropReply();
}

void LightPane::DropReply() {
    if (!m_pReply) return;
    m_pReply->disconnect(this);
    m_pReply->abort();
    m_pReply->deleteLater();
    m_pReply = nullptr;
}

void LightPane::Navigate(const QUrl& url) {
    m_url = url;
    DropReply();
    QNetworkRequest request{url};
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
            setHtml(QString::fromUtf8(body));
        } else {
            setHtml(QString());
        }
        m_hooks.pageShown(ok);
    });
}

void LightPane::ReadShownText(std::function<void(const QString&)> done) const {
    done(toPlainText());
}

}  // namespace zeza
