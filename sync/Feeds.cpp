#include "sync/Feeds.h"

#include <algorithm>
#include <array>

#include "sync/EstimateFeed.h"
#include "sync/FundListFeed.h"
#include "sync/NetValueFeed.h"

namespace zeza {
namespace {

constexpr std::array kFeeds = {
    FeedDescriptor{.kind = kFundListFeed,
                   .type = "list",
                   .tempFile = "~FUlist.tmp",
                   .controlKey = "listTime",
                   .storedTime = &LocalState::listTime,
                   .serverTime = &ServerControl::listTime,
                   .apply = ApplyFundListFile,
                   .downloadFailed = -1,
                   .syncFailed = -5,
                   .statusText = "更新基金列表..."},
    FeedDescriptor{.kind = kNetValueFeed,
                   .type = "stk",
                   .tempFile = "~FUstk.tmp",
                   .controlKey = "stkTime",
                   .storedTime = &LocalState::stkTime,
                   .serverTime = &ServerControl::stkTime,
                   .apply = ApplyNetValueFile,
                   .downloadFailed = -2,
                   .syncFailed = -3,
                   .statusText = "更新基金净值..."},
    FeedDescriptor{.kind = kEstimateFeed,
                   .type = "est",
                   .tempFile = "~FUest.tmp",
                   .controlKey = "estTime",
                   .storedTime = &LocalState::estTime,
                   .serverTime = &ServerControl::estTime,
                   .apply = ApplyEstimateFile,
                   .downloadFailed = -2,
                   .syncFailed = -4,
                   .statusText = "更新预估基金净值..."},
};

}  // namespace

std::span<const FeedDescriptor> Feeds() {
    return kFeeds;
}

const FeedDescriptor* FindFeed(int kind) {
    const auto it = std::find_if(kFeeds.begin(), kFeeds.end(),
                                 [kind](const FeedDescriptor& f) { return f.kind == kind; });
    return it != kFeeds.end() ? &*it : nullptr;
}

}  // namespace zeza
