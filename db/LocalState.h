#pragma once

#include <cstdint>
#include <string>

namespace zeza {

// The settings row fu_iniLoc as held in memory.
struct LocalState {
    int32_t dbVer = 0;
    int32_t updateTime = 0;
    int32_t stkTime = 0;
    int32_t estTime = 0;
    int32_t listTime = 0;
    std::string guid = "noguid";
};

}  // namespace zeza
