// Fills the current folder's Zeza.db and ZezaLedger.db with the trades of a trades file, as the
// menu's import does: the run script uses it to give a fresh demo database its sample trades.
//   zeza-import-trades FILE
#include <cstdio>
#include <string>
#include <vector>

#include "db/CFundDb.h"
#include "ledger/Ledger.h"
#include "platform/GbkCodec.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zeza-import-trades FILE (in the folder of Zeza.db)\n");
        return 2;
    }
    zeza::CFundDb db;  // makes Zeza.db from the template when there is none
    if (db.TemplateWriteFailed()) {
        std::fprintf(stderr, "zeza-import-trades: no Zeza.db\n");
        return 1;
    }
    int added = 0, skipped = 0;
    std::vector<std::string> reasons;
    const int r = zeza::Ledger::ImportTrades(argv[1], &added, &skipped, &reasons);
    for (const std::string& reason : reasons) std::fprintf(stderr, "%s\n", zeza::GbkToUtf8(reason).c_str());
    if (r != 1) {
        std::fprintf(stderr, "zeza-import-trades: import failed (%d)\n", r);
        return 1;
    }
    std::printf("zeza-import-trades: %d trades imported, %d lines skipped\n", added, skipped);
    return 0;
}
