#pragma once

#include <QObject>
#include <QWebEngineView>

#include "web/PageView.h"

namespace zeza {

// The full browser: a Qt WebEngine view whose page hands clicked links, and
// pages asking for a new window, to the user's browser; the program's own
// navigations, redirects and form posts stay in the pane. Built only into the
// zeza_webpane module, which the program loads for the first page that needs
// it, so that the engine's libraries stay out of the program until then.
class FullBrowserPane : public QWebEngineView, public PageView {
  public:
    FullBrowserPane(QWidget* parent, PageViewHooks hooks);

    QWidget* Widget() override { return this; }
    void Navigate(const QUrl& url) override;
    void ReadShownText(std::function<void(const QString&)> done) const override;
    void RunScript(const QString& script) override;

  private:
    PageViewHooks m_hooks;
};

// The module's entry, which the program finds with QPluginLoader.
class FullBrowserModule : public QObject, public PageViewFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ZEZA_PAGE_VIEW_FACTORY_IID)
    Q_INTERFACES(zeza::PageViewFactory)

  public:
    PageView* CreatePageView(QWidget* parent, PageViewHooks hooks) override;
};

}  // namespace zeza
