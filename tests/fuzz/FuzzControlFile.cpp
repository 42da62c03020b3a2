// The control file reader, asked what the sync asks of it. Reading the file
// from disk and from memory must agree, names must match without regard to
// case, and no value may be longer than its buffer allows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/ControlFileIni.h"
#include "tests/fuzz/FuzzWorkspace.h"

using namespace zeza;
using namespace zeza::fuzz;

namespace {

struct ControlValues {
    bool hasFu = false;
    int ints[6] = {};
    std::string path, sha;
    bool operator==(const ControlValues&) const = default;
};

// What the control fetch reads, in its order, with its buffer sizes.
ControlValues Ask(const ControlFileIni& ini, bool upper) {
    ControlValues v;
    v.hasFu = ini.HasSection(upper ? "FU" : "fu");
    const char* keys[6][2] = {{"FU", "listTime"}, {"FU", "stkTime"},    {"FU", "estTime"},
                              {"VER", "LastVer"}, {"VER", "UpdateVer"}, {"VER", "UpdateFu"}};
    for (int i = 0; i < 6; ++i) {
        std::string section = keys[i][0], key = keys[i][1];
        if (!upper) section = i < 3 ? "fu" : "ver";
        if (upper)
            for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        v.ints[i] = ini.GetInt(section, key, 0);
    }
    v.path = ini.GetString(upper ? "VER" : "ver", upper ? "UPDATEPATH" : "UpdatePath", "", 261);
    v.sha = ini.GetString("VER", "UpdateSha256", "", 1024);
    if (v.path.size() > 260 || v.sha.size() > 1023) Fail("a value is longer than its buffer");
    if (!ini.GetString("VER", "UpdatePath", "default", 0).empty()) Fail("a buffer of 0 bytes holds text");
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorkspace& ws = FuzzWorkspace::Get();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ws.WriteInput("~FUini.tmp", data, size);

    const ControlFileIni fromMemory(input);
    ControlFileIni fromFile;
    if (!fromFile.Load("~FUini.tmp")) Fail("the control file could not be read");
    const ControlValues a = Ask(fromMemory, false), b = Ask(fromFile, true);
    if (!(a == b)) Fail("the file and memory readings differ, or names matched with regard to case");
    // A missing key reads as the default given.
    if (!fromMemory.HasSection("FU") && fromMemory.GetInt("FU", "listTime", 7) != 7)
        Fail("a missing key read a value");
    return 0;
}
