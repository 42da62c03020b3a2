#pragma once

#include <functional>

#include <QString>
#include <QUrl>
#include <QtPlugin>

class QWidget;

namespace zeza {

// What a web pane hands the view it shows pages in: where a page that arrived
// (true) or could not be fetched (false) is reported, and where a link the user
// clicked goes (the user's browser), already resolved against the page.
struct PageViewHooks {
    std::function<void(bool ok)> pageShown;
    std::function<void(const QUrl& link)> openLink;
};

// One way of showing the data server's pages in a CWebBrowser2: the light pane
// (LightPane) or the full browser (FullBrowserPane, in the zeza_webpane module).
// The view is a child widget of the pane, which owns it. Header only: the
// module and the program each see the same small interface and nothing else.
class PageView {
  public:
    virtual ~PageView() = default;

    // The widget that shows the page.
    virtual QWidget* Widget() = 0;
    // Starts loading url and returns at once; a newer call cuts an earlier load
    // short, which then reports nothing.
    virtual void Navigate(const QUrl& url) = 0;
    // Hands the plain text shown now to done, later or at once.
    virtual void ReadShownText(std::function<void(const QString&)> done) const = 0;
    // Runs script in the shown page; a view without scripts ignores it.
    virtual void RunScript(const QString& script) = 0;
};

// The entry of the full browser module, found by QPluginLoader.
class PageViewFactory {
  public:
    virtual ~PageViewFactory() = default;
    // A new view, a child of parent, reporting through hooks.
    virtual PageView* CreatePageView(QWidget* parent, PageViewHooks hooks) = 0;
};

}  // namespace zeza

// The number changes whenever PageView or PageViewFactory change, so that a
// module left from another version is refused instead of called.
#define ZEZA_PAGE_VIEW_FACTORY_IID "org.zeza.Zeza.PageViewFactory/1"
Q_DECLARE_INTERFACE(zeza::PageViewFactory, ZEZA_PAGE_VIEW_FACTORY_IID)
