#pragma once

#include <cstdint>
#include <string>

namespace zeza {

// What the data server's control file says: the time of each feed's newest
// data and the program version on offer.
struct ServerControl {
    int32_t stkTime = 0;
    int32_t estTime = 0;
    int32_t listTime = 0;
    int32_t accTime = 0;  // a feed kept in memory (sync/MemoryFeeds.h); 0 when not announced
    int32_t idxTime = 0;  // the market indices, kept in memory as accTime
    int32_t LastVer = 0;
    int32_t UpdateVer = 0;
    int32_t UpdateFu = 0;
    std::string UpdatePath;
    std::string UpdateSha256;  // hex SHA-256 of the program at UpdatePath; "" when not sent

    void Clear() { *this = ServerControl{}; }
};

}  // namespace zeza
