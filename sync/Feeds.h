#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "db/LocalState.h"
#include "db/ServerControl.h"

namespace zeza {

// The feeds of the data server, by the number CFundDb::SyncFeed takes.
enum FeedKind : int { kNetValueFeed = 0, kEstimateFeed = 1, kFundListFeed = 2 };

// Everything that tells one feed from another.
struct FeedDescriptor {
    FeedKind kind;
    const char* type;      // "tp" of the feed's URL
    const char* tempFile;  // its download, in the cache folder
    // Its time: the key in the control file's [FU] section, also the column of fu_iniLoc.
    const char* controlKey;
    int32_t LocalState::*storedTime;     // the time of the data applied last (sent with the request)
    int32_t ServerControl::*serverTime;  // the time of the server's newest data
    // Applies the downloaded file to ./Zeza.db; 1 applied, below 1 failed (see its header).
    int (*apply)(const std::string& path);
    int downloadFailed;      // CFundDb::FetchFeed's result when the download fails
    int syncFailed;          // CFundDb::SyncFeed's result when the feed fails
    const char* statusText;  // shown (UTF-8) while a refresh pass runs the feed
};

// Every feed, in the order a refresh pass runs them: the fund list first, as it
// resets the estimates of the funds it names and adds the rows new funds'
// estimates go to.
std::span<const FeedDescriptor> Feeds();
// The feed of kind; nullptr when there is none.
const FeedDescriptor* FindFeed(int kind);

}  // namespace zeza
