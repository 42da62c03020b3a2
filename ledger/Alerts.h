#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

// The alerts of a trading day, decided without any widget: the settings the user chose (kept in
// ZezaLedger.db beside the trades) and which alerts are due now, each fired once per day and
// fund, remembered across restarts.
namespace zeza {

struct AlertSettings {
    bool minimizeToTray = false;  // 关闭时最小化到托盘 (closing ends the program by default)
    bool autostart = false;       // 开机自动启动
    std::string time = "14:45";   // the day's alert, "HH:MM" Beijing
    int defaultThreshold = 200;   // in hundredths of a percent: 2.00 %
    std::map<std::string, int> thresholds;  // by fund code, hundredths of a percent
};

// One desktop notification; texts GBK.
struct AlertNotice {
    std::string title;
    std::string body;
};

class Alerts {
  public:
    // 0 read (defaults where nothing is stored); -1 no Zeza.db, -2 failed, -5 the ledger is damaged.
    [[nodiscard]] static int ReadSettings(AlertSettings& out);
    // 0 stored; -1, -2, -5.
    [[nodiscard]] static int StoreSettings(const AlertSettings& settings);

    // The held and watched funds (code, name; GBK), by code: the funds a threshold can be set for.
    // 0 read; -1 no Zeza.db, -2 failed.
    [[nodiscard]] static int ListFunds(std::vector<std::pair<std::string, std::string>>& out);

    // The alerts due at now ("YYYY-MM-DD HH:MM", Beijing), each recorded as given so that it never
    // comes again that day: on a weekday whose estimates the server published (its estimate time
    // falls on that day), a held or watched fund's estimated change at or beyond its threshold,
    // and from the alert time on the portfolio's estimated change and income with every holding
    // beyond its threshold; the day's NAVs of held funds once published (the day's income); the
    // trades the refresh confirmed and the plans' buys it made. 0 (out may be empty); -1, -2, -5.
    [[nodiscard]] static int TakeDue(const std::string& now, std::vector<AlertNotice>& out);
};

}  // namespace zeza
