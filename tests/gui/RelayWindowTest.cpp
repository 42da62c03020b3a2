// End to end on public-data shapes: fake upstream -> relay -> data server -> the program.

#include <gtest/gtest.h>
#include <cstdlib>
#include <set>

#include <httplib.h>

#include "app/CFundDlg.h"
#include "tables/CFundListCtrl.h"
#include "platform/ServerConfig.h"
#include "server/DataServer.h"
#include "server/relay/Relay.h"
#include "tests/LocalHttpServer.h"
#include "tests/TestDataServer.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using namespace zeza;

using RelayWindow = test::GuiTest;

TEST_F(RelayWindow, TheProgramSyncsFromTheRelayAndShowsTheFunds) {
    const std::filesystem::path fixtures = ZEZA_RELAY_FIXTURES;
    test::LocalHttpServer upstream;
    for (const char* file :
         {"fundcode_search.js", "Fund_JJJZ_Data.aspx", "FundMNFInfo.json", "FundValuationLast.json"})
        upstream.Serve(std::string("/") + file, test::ReadFileBytes(fixtures / file),
                       "application/javascript");
    upstream.Start();

    relay::RelayOptions ro;
    ro.dataDir = dir.Path() / "relay";
    ro.catalogueUrl = upstream.Base() + "fundcode_search.js";
    ro.netValueUrl = upstream.Base() + "Fund_JJJZ_Data.aspx?t=1&lx=1&page=1,50000";
    ro.fundInfoUrl = upstream.Base() + "FundMNFInfo.json";
    ro.estimateUrl = upstream.Base() + "FundValuationLast.json";
    ro.fetch.minIntervalMs = 0;
    auto relay = std::make_shared<relay::Relay>(ro);
    std::string err;
    ASSERT_TRUE(relay->Open(err)) << err;
    relay->RunDue(true);  // what a freshly started relay fetches
    ASSERT_EQ(relay->Current()->navs.size(), 4u);

    auto srv = test::StartDataServer(ro.dataDir, relay);
    ASSERT_TRUE(srv);
    SetServerBaseUrlForTesting(srv->Url());
    CFundDlg::SetAutoRefreshForTesting(true);
    {
        CFundDlg dlg;
        dlg.show();
        ASSERT_TRUE(
            test::WaitUntil([&] { return dlg.StatusText(2).startsWith(QStringLiteral("更新完成")); }, 30000));
        ASSERT_TRUE(test::WaitUntil([&] { return dlg.List()->GetItemCount() == 4; }, 10000));
        EXPECT_EQ(dlg.List()->m_strDate, "2026-08-20");
        std::set<std::string> codes;
        for (int i = 0; i < 4; ++i) codes.insert(dlg.List()->GetItemText(i, 1));
        // The two late publishers are in view beside the others.
        EXPECT_EQ(codes, (std::set<std::string>{"000001", "110022", "217022", "501312"}));
        dlg.reject();
    }
    srv->Stop();
}
