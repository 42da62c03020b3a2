#include "dialogs/LedgerNotice.h"

#include <QString>

#include "platform/MessageBox.h"

namespace zeza {

namespace {

bool g_bTold = false;

}  // namespace

bool NoteLedgerDamage(QWidget* parent, int result) {
    if (result != -5) return false;
    if (g_bTold) return true;
    g_bTold = true;
    MessageBox::Show(
        parent, QStringLiteral("交易记录文件 ZezaLedger.db 已损坏，交易记录暂不可用；我的基金照常显示。"),
        QStringLiteral("提示"), MessageBox::Buttons::Ok, MessageBox::Icon::Warning);
    return true;
}

void ResetLedgerNoticeForTesting() {
    g_bTold = false;
}

}  // namespace zeza
