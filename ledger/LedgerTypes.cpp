#include "ledger/LedgerTypes.h"

#include <array>

#include "platform/GbkCodec.h"

namespace zeza {
namespace {

const std::array<std::string, 6>& KindTexts() {
    static const std::array<std::string, 6> texts = {Utf8ToGbk("买入"),       Utf8ToGbk("卖出"),
                                                     Utf8ToGbk("转换"),       Utf8ToGbk("现金分红"),
                                                     Utf8ToGbk("红利再投资"), Utf8ToGbk("份额调整")};
    return texts;
}

}  // namespace

const std::string& TradeKindText(TradeKind kind) {
    const int i = static_cast<int>(kind) - 1;
    return KindTexts()[i >= 0 && i < 6 ? i : 0];
}

bool TradeKindFromText(std::string_view gbk, TradeKind& kind) {
    for (size_t i = 0; i < KindTexts().size(); ++i) {
        if (KindTexts()[i] == gbk) {
            kind = static_cast<TradeKind>(i + 1);
            return true;
        }
    }
    return false;
}

const std::string& TradeStatusText(TradeStatus status) {
    static const std::array<std::string, 4> texts = {Utf8ToGbk("待确认"), Utf8ToGbk("已确认"),
                                                     Utf8ToGbk("已撤销"), Utf8ToGbk("失败")};
    const int i = static_cast<int>(status);
    return texts[i >= 0 && i < 4 ? i : 0];
}

}  // namespace zeza
