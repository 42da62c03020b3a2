#pragma once

#include <QTextBrowser>

#include "web/PageView.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace zeza {

// The light pane: fetches the page and shows its HTML as rich text, without
// scripts. Every build has it; the banner always uses it.
class LightPane : public QTextBrowser, public PageView {
  public:
    LightPane(QWidget* parent, PageViewHooks hooks);
    ~LightPane() override;

    QWidget* Widget() override { return this; }
    void Navigate(const QUrl& url) override;
    void ReadShownText(std::function<void(const QString&)> done) const override;
    void RunScript(const QString&) override {}

  private:
    void DropReply();

    PageViewHooks m_hooks;
    QUrl m_url;  // the page asked for last: clicked links are resolved against it
    QNetworkAccessManager* m_pNet = nullptr;
    QNetworkReply* m_pReply = nullptr;
};

}  // namespace zeza
