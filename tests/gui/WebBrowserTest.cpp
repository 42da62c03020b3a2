// The web pane in each form this build has (full browser, and the light pane
// that every build has): the same expectations hold for both.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <httplib.h>

#include <QSignalSpy>
#include <QTest>

#include "platform/Shell.h"
#include "tests/LocalHttpServer.h"
#include "tests/gui/GuiTestSupport.h"
#include "web/CWebBrowser2.h"

#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

using namespace zeza;

namespace {

constexpr int kPageTimeoutMs = 30000;  // the full browser's first page starts its helper process

// A small site on a free port of 127.0.0.1.
class PageServer {
  public:
    PageServer() {
        auto html = [this](const char* path, const char* body) {
            m_http.Serve(
                path,
                std::string("<html><head><meta charset=\"utf-8\"></head><body>") + body + "</body></html>",
                "text/html; charset=utf-8");
        };
        html("/first", "<p>第一页 hello</p><p><a href=\"/elsewhere?x=1\">更多</a></p>");
        html("/second", "<p>second page</p>");
        html("/blank", "<p>new window</p><a href=\"/elsewhere?x=2\" target=\"_blank\">open</a>");
        m_http.Route("/slow", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            res.set_content("<html><body><p>slow page</p></body></html>", "text/html");
        });
        m_http.Route("/elsewhere", [this](const httplib::Request&, httplib::Response& res) {
            ++elsewhereHits;
            res.set_content("<html><body><p>somewhere else</p></body></html>", "text/html");
        });
        // The browser keeps connections open; do not let them hold up the stop.
        m_http.Http().set_keep_alive_timeout(1);
        m_http.Start();
    }
    ~PageServer() { m_http.Stop(); }
    QString Url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_http.Port()).arg(path);
    }

    std::atomic<int> elsewhereHits{0};

  private:
    test::LocalHttpServer m_http;
};

// The text the pane shows now; the full browser answers from its page process.
QString ShownText(const CWebBrowser2& pane) {
    auto state = std::make_shared<std::pair<bool, QString>>(false, QString());
    pane.ReadShownText([state](const QString& text) { *state = {true, text}; });
    test::WaitUntil([&] { return state->first; }, kPageTimeoutMs);
    return state->second;
}

// Waits for the next PageShown and returns its flag (false also when none came).
bool WaitForPage(QSignalSpy& spy) {
    if (spy.isEmpty() && !spy.wait(kPageTimeoutMs)) return false;
    return spy.takeFirst().at(0).toBool();
}

// Follows the first link of the shown page as a user's click would.
void ClickFirstLink(CWebBrowser2& pane) {
    if (pane.IsFullBrowser()) {
        pane.RunScript(QStringLiteral("document.querySelector('a').click();"));
        return;
    }
    auto* text = pane.findChild<QTextBrowser*>();
    ASSERT_NE(text, nullptr);
    for (QTextBlock block = text->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor()) {
                emit text->anchorClicked(QUrl(format.anchorHref()));
                return;
            }
        }
    }
    FAIL() << "the page shows no link";
}

// Parameter: the pane is made a light one.
struct WebPaneTest : ::testing::TestWithParam<bool> {
    void SetUp() override {
        Shell::SetOpenUrlHook([this](const QString& url) {
            openedUrls << url;
            return true;
        });
        if (GetParam()) pane.UseLightPane();
        EXPECT_EQ(pane.IsFullBrowser(), CWebBrowser2::HasFullBrowser() && !GetParam());
        pane.resize(400, 300);
        pane.show();
    }
    void TearDown() override { Shell::SetOpenUrlHook(nullptr); }

    PageServer server;
    CWebBrowser2 pane;
    QSignalSpy shown{&pane, &CWebBrowser2::PageShown};
    QStringList openedUrls;
};

}  // namespace

TEST_P(WebPaneTest, ShowsThePageAndReportsPagesThatCannotBeReached) {
    EXPECT_EQ(pane.LastUrl(), QString());
    pane.Navigate(server.Url("/first"));
    EXPECT_EQ(pane.LastUrl(), server.Url("/first"));
    ASSERT_TRUE(WaitForPage(shown));
    EXPECT_TRUE(ShownText(pane).contains(QStringLiteral("第一页 hello")));

    // Nothing listens on port 1 of this machine.
    pane.Navigate(QStringLiteral("http://127.0.0.1:1/fund/feedback.php"));
    EXPECT_FALSE(WaitForPage(shown));
    EXPECT_FALSE(ShownText(pane).contains(QStringLiteral("第一页")));
}

TEST_P(WebPaneTest, TheLastNavigationWinsOverAnEarlierSlowOne) {
    pane.Navigate(server.Url("/slow"));
    pane.Navigate(server.Url("/second"));
    ASSERT_TRUE(test::WaitUntil([&] { return ShownText(pane).contains(QStringLiteral("second page")); },
                                kPageTimeoutMs));
    // Long after the slow answer would have come, the pane still shows the page asked for last.
    QTest::qWait(2500);
    EXPECT_TRUE(ShownText(pane).contains(QStringLiteral("second page")));
    EXPECT_FALSE(ShownText(pane).contains(QStringLiteral("slow page")));
    // One report, for the page asked for last; the cut-short load reports nothing.
    ASSERT_EQ(shown.count(), 1);
    EXPECT_TRUE(shown.at(0).at(0).toBool());
    EXPECT_EQ(pane.LastUrl(), server.Url("/second"));
}

TEST_P(WebPaneTest, AClickedLinkOpensInTheUsersBrowserAndThePaneKeepsItsPage) {
    const struct {
        const char* page;
        const char* shown;
        const char* link;
    } cases[] = {
        {"/first", "第一页 hello", "/elsewhere?x=1"},
        {"/blank", "new window", "/elsewhere?x=2"},  // a link that asks for a new window
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        openedUrls.clear();
        pane.Navigate(server.Url(c.page));
        ASSERT_TRUE(WaitForPage(shown));
        ClickFirstLink(pane);
        ASSERT_TRUE(test::WaitUntil([&] { return !openedUrls.isEmpty(); }, kPageTimeoutMs));
        QTest::qWait(300);
        EXPECT_TRUE(shown.isEmpty()) << "a link handed on is no page load";
        // Once, resolved against the page, and never fetched by the pane.
        EXPECT_EQ(openedUrls, QStringList{server.Url(c.link)});
        EXPECT_EQ(server.elsewhereHits.load(), 0);
        EXPECT_TRUE(ShownText(pane).contains(QString::fromUtf8(c.shown)));
    }
}

TEST_P(WebPaneTest, MovesShowsAndHidesAsTheWindowAsks) {
    QWidget window;
    window.resize(800, 600);
    CWebBrowser2 child(&window);
    if (GetParam()) child.UseLightPane();
    // The full browser's view comes with the first page.
    child.Navigate(server.Url("/second"));
    window.show();
    child.setGeometry(QRect(300, 0, 500, 70));
    EXPECT_EQ(child.geometry(), QRect(300, 0, 500, 70));
    child.hide();
    EXPECT_FALSE(child.isVisible());
    child.show();
    EXPECT_TRUE(child.isVisible());
    // The page fills the pane whatever its size.
    QCoreApplication::processEvents();
    for (QWidget* inner : child.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_EQ(inner->geometry(), QRect(0, 0, 500, 70));
}

INSTANTIATE_TEST_SUITE_P(Panes, WebPaneTest,
                         testing::ValuesIn(CWebBrowser2::HasFullBrowser() ? std::vector<bool>{false, true}
                                                                          : std::vector<bool>{true}),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Light" : "FullBrowser");
                         });
