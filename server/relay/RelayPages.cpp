#include "server/relay/RelayPages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/GbkCodec.h"
#include "server/SitePages.h"

namespace zeza::relay {
namespace {

using server::SitePages;

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           SitePages::Escape(title) +
           "</title>\n<style>\nbody{font-family:\"Microsoft YaHei\",\"WenQuanYi Micro Hei\",sans-serif;"
           "background:#f4f6fb;color:#222;margin:16px;}\ntable{border-collapse:collapse;}"
           "td,th{border:1px solid #bfcae6;padding:4px 10px;}th{background:#bfcae6;text-align:left;}\n"
           "td.n{text-align:right;}.own{color:#b35900;}.note{color:#555;font-size:90%;}\n"
           "</style>\n</head>\n<body>\n" +
           body + "</body>\n</html>\n";
}

constexpr const char* kOwnNote =
    "<p class=\"note\">标“本站自算”的估值由本站按基金最近公布的前十大持仓和当日股价自行计算，"
    "并非基金公司数据，可能与实际净值相差较大，仅供参考。</p>\n";

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%.*f", decimals, v);
    return buf;
}

std::string SignedPct(double v) {
    return (v > 0 ? "+" : "") + Fixed(v, 2) + "%";
}

// The fund's days as a chart: NAV as a line, each day's estimate as a dot (filled for the
// relay's own, hollow for the public valuation), the error per day as bars below.
std::string Chart(const Track& all) {
    std::vector<const TrackDay*> days;
    for (const TrackDay& d : all)
        if (d.nav > 0 || d.estimate > 0) days.push_back(&d);
    if (days.empty()) return "";
    constexpr double W = 640, H = 280, left = 64, right = 16, top = 24, mainH = 150, gap = 30, errH = 60;
    double lo = 1e300, hi = -1e300, errMax = 0.5;
    for (const TrackDay* d : days) {
        for (double v : {d->nav, d->estimate})
            if (v > 0) lo = std::min(lo, v), hi = std::max(hi, v);
        if (d->HasError()) errMax = std::max(errMax, std::fabs(d->ErrorPct()));
    }
    if (hi - lo < 1e-9) lo -= 0.01, hi += 0.01;
    const double pad = (hi - lo) * 0.08;
    lo -= pad, hi += pad;
    const double plotW = W - left - right;
    auto x = [&](size_t i) { return left + (days.size() == 1 ? plotW / 2 : plotW * i / (days.size() - 1)); };
    auto y = [&](double v) { return top + mainH * (hi - v) / (hi - lo); };
    const double errMid = top + mainH + gap + errH / 2;
    auto f1 = [](double v) { return Fixed(v, 1); };

    std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"280\" viewBox=\"0 0 640 280\" "
        "role=\"img\" aria-label=\"净值与估值走势\" font-size=\"11\">\n";
    svg += "<rect x=\"0\" y=\"0\" width=\"640\" height=\"280\" fill=\"#ffffff\"/>\n";
    svg += "<rect x=\"" + f1(left) + "\" y=\"" + f1(top) + "\" width=\"" + f1(plotW) + "\" height=\"" +
           f1(mainH) + "\" fill=\"none\" stroke=\"#bfcae6\"/>\n";
    svg += "<text x=\"" + f1(left - 6) + "\" y=\"" + f1(top + 4) + "\" text-anchor=\"end\">" + Fixed(hi, 4) +
           "</text>\n<text x=\"" + f1(left - 6) + "\" y=\"" + f1(top + mainH) + "\" text-anchor=\"end\">" +
           Fixed(lo, 4) + "</text>\n";
    svg += "<text x=\"" + f1(left) + "\" y=\"14\" fill=\"#2a5db0\">— 单位净值</text><text x=\"" +
           f1(left + 90) + "\" y=\"14\" fill=\"#e07b00\">● 本站自算估值</text><text x=\"" + f1(left + 200) +
           "\" y=\"14\" fill=\"#e07b00\">○ 公开估值</text>\n";
    std::string points;
    for (size_t i = 0; i < days.size(); ++i)
        if (days[i]->nav > 0) points += (points.empty() ? "" : " ") + f1(x(i)) + "," + f1(y(days[i]->nav));
    svg += "<polyline class=\"nav\" points=\"" + points +
           "\" fill=\"none\" stroke=\"#2a5db0\" stroke-width=\"2\"/>\n";
    for (size_t i = 0; i < days.size(); ++i) {
        const TrackDay& d = *days[i];
        if (d.estimate <= 0) continue;
        svg += "<circle class=\"est\" cx=\"" + f1(x(i)) + "\" cy=\"" + f1(y(d.estimate)) + "\" r=\"3.5\" " +
               (d.publicEstimate ? "fill=\"#ffffff\"" : "fill=\"#e07b00\"") + " stroke=\"#e07b00\"><title>" +
               d.day + " 估值 " + Fixed(d.estimate, 4) + "</title></circle>\n";
    }
    // Errors: bars up for an estimate above the NAV, down for one below.
    svg += "<line x1=\"" + f1(left) + "\" y1=\"" + f1(errMid) + "\" x2=\"" + f1(W - right) + "\" y2=\"" +
           f1(errMid) + "\" stroke=\"#999\"/>\n<text x=\"" + f1(left - 6) + "\" y=\"" + f1(errMid + 4) +
           "\" text-anchor=\"end\">误差</text>\n<text x=\"" + f1(left - 6) + "\" y=\"" +
           f1(errMid - errH / 2 + 4) + "\" text-anchor=\"end\">+" + Fixed(errMax, 2) +
           "%</text>\n<text x=\"" + f1(left - 6) + "\" y=\"" + f1(errMid + errH / 2 + 4) +
           "\" text-anchor=\"end\">-" + Fixed(errMax, 2) + "%</text>\n";
    const double barW = std::max(2.0, std::min(12.0, plotW / days.size() * 0.6));
    for (size_t i = 0; i < days.size(); ++i) {
        if (!days[i]->HasError()) continue;
        const double e = days[i]->ErrorPct(), h = errH / 2 * std::fabs(e) / errMax;
        svg += "<rect class=\"err\" x=\"" + f1(x(i) - barW / 2) + "\" y=\"" +
               f1(e > 0 ? errMid - h : errMid) + "\" width=\"" + f1(barW) + "\" height=\"" +
               f1(std::max(h, 0.5)) + "\" fill=\"" + (e > 0 ? "#d9534f" : "#3a9d5d") + "\"><title>" +
               days[i]->day + " 误差 " + SignedPct(e) + "</title></rect>\n";
    }
    svg += "<text x=\"" + f1(left) + "\" y=\"" + f1(H - 4) + "\">" + days.front()->day + "</text><text x=\"" +
           f1(W - right) + "\" y=\"" + f1(H - 4) + "\" text-anchor=\"end\">" + days.back()->day + "</text>\n";
    return svg + "</svg>\n";
}

// Minutes of the trading day from 09:30, the lunch break left out (11:30 and 13:00 meet).
double TradingMinute(int minute) {
    if (minute <= 11 * 60 + 30) return std::max(0, minute - (9 * 60 + 30));
    return 120 + std::clamp(minute - 13 * 60, 0, 120);
}

// Today's own estimates round by round, beside the NAV they start from, and the inputs of the
// last one: how the figure in the feed came about.
std::string IntradaySection(const Snapshot& s, const std::string& code) {
    const auto points = s.intraday->Points(code);
    IntradayLog::Last last;
    if (points.empty() || !s.intraday->LastOf(code, last)) return "";
    const RelayNav* nav = s.FindNav(code);
    constexpr double W = 640, H = 200, left = 64, right = 16, top = 16, plotH = 150;
    double lo = 1e300, hi = -1e300;
    for (const auto& p : points) lo = std::min<double>(lo, p.value), hi = std::max<double>(hi, p.value);
    if (nav) lo = std::min(lo, nav->latest), hi = std::max(hi, nav->latest);
    if (hi - lo < 1e-9) lo -= 0.005, hi += 0.005;
    const double pad = (hi - lo) * 0.1;
    lo -= pad, hi += pad;
    const double plotW = W - left - right;
    auto x = [&](int minute) { return left + plotW * TradingMinute(minute) / 240; };
    auto y = [&](double v) { return top + plotH * (hi - v) / (hi - lo); };
    auto f1 = [](double v) { return Fixed(v, 1); };
    std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"200\" viewBox=\"0 0 640 200\" "
        "role=\"img\" aria-label=\"今日估值走势\" font-size=\"11\" class=\"intraday\">\n"
        "<rect x=\"0\" y=\"0\" width=\"640\" height=\"200\" fill=\"#ffffff\"/>\n";
    svg += "<rect x=\"" + f1(left) + "\" y=\"" + f1(top) + "\" width=\"" + f1(plotW) + "\" height=\"" +
           f1(plotH) + "\" fill=\"none\" stroke=\"#bfcae6\"/>\n";
    svg += "<text x=\"" + f1(left - 6) + "\" y=\"" + f1(top + 4) + "\" text-anchor=\"end\">" + Fixed(hi, 4) +
           "</text>\n<text x=\"" + f1(left - 6) + "\" y=\"" + f1(top + plotH) + "\" text-anchor=\"end\">" +
           Fixed(lo, 4) + "</text>\n";
    if (nav)
        svg += "<line class=\"base\" x1=\"" + f1(left) + "\" y1=\"" + f1(y(nav->latest)) + "\" x2=\"" +
               f1(W - right) + "\" y2=\"" + f1(y(nav->latest)) +
               "\" stroke=\"#2a5db0\" stroke-dasharray=\"4 3\"/>\n";
    std::string line;
    for (const auto& p : points) line += (line.empty() ? "" : " ") + f1(x(p.minute)) + "," + f1(y(p.value));
    svg += "<polyline class=\"intraday\" points=\"" + line +
           "\" fill=\"none\" stroke=\"#e07b00\" stroke-width=\"2\"/>\n";
    const char* ticks[] = {"09:30", "10:30", "11:30/13:00", "14:00", "15:00"};
    for (int i = 0; i < 5; ++i)
        svg += "<text x=\"" + f1(left + plotW * i / 4) + "\" y=\"" + f1(H - 8) +
               "\" text-anchor=\"middle\">" + ticks[i] + "</text>\n";
    svg += "</svg>\n";
    std::string out =
        "<h3>今日估值走势（" + SitePages::Escape(s.intraday->Day()) + "，每轮一点）</h3>\n" + svg;
    // The method as the round used it: plain, index mix, its record correction, a full list.
    const bool mixed = last.method.find("index mix") != std::string::npos;
    std::string method = mixed ? "前十大重仓股按当日行情加权的涨跌代表其所占部分，其余股票仓位按该基金近 60 "
                                 "个交易日净值拟合的宽基指数组合（沪深300、中证500、创业板指、中证1000，"
                                 "持港股者加恒生指数）的当日涨跌"
                               : "前十大重仓股按当日行情加权的涨跌，乘以股票仓位";
    if (last.method.find("record") != std::string::npos)
        method += "，两部分的比重再按其在本期持仓下的净值记录校正";
    if (last.method.find("full list") != std::string::npos) method += "（持仓取最近公布的完整持仓）";
    out += "<p class=\"method\">估值方法：" + method + "，加在上一交易日净值上。所用：报告期 " +
           SitePages::Escape(last.reportDate) + " 的前十大持仓，行情覆盖其 " + Fixed(last.coverage * 100, 0) +
           "% 的权重；股票仓位 " + Fixed(last.equityPct, 2) + "%（" + SitePages::Escape(last.equityDate) +
           "）";
    if (last.fittedExposure > 0) out += "；拟合的股票暴露 " + Fixed(last.fittedExposure * 100, 1) + "%";
    out += "。</p>\n";
    return out;
}

// The estimate record of a fund: chart, accuracy, each day, the holdings used.
std::string OwnSection(const Snapshot& s, const std::string& code) {
    auto t = s.own->tracks.find(code);
    auto h = s.own->holdings.find(code);
    if (t == s.own->tracks.end() && h == s.own->holdings.end()) return "";
    std::string out = IntradaySection(s, code) + "<h3>净值与估值记录</h3>\n" + std::string(kOwnNote);
    if (t != s.own->tracks.end() && !t->second->empty()) {
        const Track& track = *t->second;
        out += Chart(track);
        Accuracy a = MeanAbsError(track, 20);
        out += "<p>近 20 个交易日估值平均绝对误差：<b class=\"mae\">" +
               (a.estimatedDays ? Fixed(a.meanAbsPct, 2) + "%" : std::string("暂无")) + "</b>（其中 " +
               std::to_string(a.estimatedDays) + " 天有估值；误差 = 估值 ÷ 当日净值 − 1）</p>\n";
        out +=
            "<table class=\"track\">\n<tr><th>日期</th><th>单位净值</th><th>当日估值</th><th>估值来源</th>"
            "<th>误差</th></tr>\n";
        for (auto it = track.rbegin(); it != track.rend(); ++it) {
            const TrackDay& d = *it;
            out += "<tr><td>" + d.day + "</td><td class=\"n\">" + (d.nav > 0 ? Value4(d.nav) : "未公布") +
                   "</td><td class=\"n\">" + (d.estimate > 0 ? Value4(d.estimate) : "—") + "</td><td>" +
                   (d.estimate <= 0    ? ""
                    : d.publicEstimate ? "公开估值"
                                       : "<span class=\"own\">本站自算</span>") +
                   "</td><td class=\"n\">" + (d.HasError() ? SignedPct(d.ErrorPct()) : "") + "</td></tr>\n";
        }
        out += "</table>\n";
    }
    if (h != s.own->holdings.end()) {
        const FundHoldings& fh = h->second;
        out += "<h3>估值所用持仓</h3>\n<p>前十大股票，报告期 " + SitePages::Escape(fh.reportDate);
        if (fh.equityPct >= 0)
            out += "；股票仓位 " + Fixed(fh.equityPct, 2) + "%（" + SitePages::Escape(fh.equityDate) + "）";
        out += "</p>\n<table class=\"holdings\">\n<tr><th>代码</th><th>名称</th><th>占净值比例</th></tr>\n";
        for (const HeldStock& st : fh.stocks)
            out += "<tr><td>" + SitePages::Escape(st.code) + "</td><td>" + SitePages::Escape(st.name) +
                   "</td><td class=\"n\">" + Fixed(st.weight, 2) + "%</td></tr>\n";
        out += "</table>\n";
    }
    return out;
}

constexpr const char* kSourceNote =
    "<p><small>数据转自公开的基金网页，仅供个人参考，不保证及时、准确或完整。</small></p>\n";

}  // namespace

std::string HomePage(const Snapshot& s) {
    std::string body = "<h1>Zeza 基金数据服务（公开数据转发）</h1>\n<p>净值日期 " +
                       SitePages::Escape(s.quoteDate) + "，共 " + std::to_string(s.funds.size()) +
                       " 只基金，" + std::to_string(s.navs.size()) + " 只有净值，" +
                       std::to_string(s.estimates.size()) + " 只有预估。</p>\n";
    size_t own =
        std::count_if(s.estimates.begin(), s.estimates.end(), [](const RelayEstimate& e) { return e.own; });
    DayAccuracy day = LatestDayAccuracy(*s.own);
    body += "<p>其中 " + std::to_string(own) + " 只为本站自算估值";
    if (day.funds)
        body += "；" + day.day + " 本站自算估值的平均绝对误差 <b class=\"mae\">" + Fixed(day.meanAbsPct, 2) +
                "%</b>（" + std::to_string(day.funds) + " 只基金）";
    body += "。</p>\n" + std::string(kOwnNote) + kSourceNote;
    return Page("Zeza 基金数据服务", body);
}

std::string BannerPage(const Snapshot& s) {
    std::string body = "<div>净值日期 " + SitePages::Escape(s.quoteDate.empty() ? "暂无" : s.quoteDate) +
                       "</div><div><small>公开数据转发，仅供参考</small></div>\n";
    return Page("行情提示", body);
}

std::string FundPage(const Snapshot& s, const std::string& code) {
    const RelayFund* f = s.FindFund(code);
    const RelayNav* nav = s.FindNav(code);
    if (!f && !nav) return "";
    std::string name = f ? SitePages::Escape(GbkToUtf8(f->name)) : "";
    std::string body = "<h2>" + code + " " + name + "</h2>\n<table>\n";
    auto row = [&](const std::string& caption, const std::string& value) {
        body += "<tr><th>" + caption + "</th><td>" + value + "</td></tr>\n";
    };
    row("基金代码", code);
    row("基金简称", name);
    if (f) row("基金类型", SitePages::TypeName(f->typeCode));
    if (f && f->late) row("净值公布", "通常晚一个交易日（投资境外）");
    if (nav) {
        std::string date = SitePages::Escape(nav->date);
        if (nav->date != s.quoteDate)
            date += "（晚于其他基金公布，列表中按 " + SitePages::Escape(s.quoteDate) + " 显示）";
        row("净值日期", date);
        row("累计净值", Value4(nav->accumulated));
        row("最新净值(元)", Value4(nav->latest));
        row("上期净值(元)", Value4(nav->previous));
    } else {
        row("最新净值(元)", "暂无净值");
    }
    const RelayEstimate* est = s.FindEstimate(code);
    std::string none = "暂无预估";
    if (auto why = s.refused->find(code); !est && why != s.refused->end())
        none += "（本站未自算：" + std::string(VerdictText(why->second)) + "）";
    else if (!est && f && !f->ownEstimate && f->typeCode != "zhi")
        none += "（本站只为主动股票型和混合型基金自算估值）";
    row("预估净值(元)", !est       ? none
                        : est->own ? Value4(est->value) + " <span class=\"own\">（本站自算）</span>"
                                   : Value4(est->value) + "（公开估值）");
    if (est && !s.estimateStamp.empty()) row("预估时间", SitePages::Escape(s.estimateStamp));
    body += "</table>\n" + OwnSection(s, code) + std::string(kSourceNote) +
            "<p><a href=\"../\">返回首页</a></p>\n";
    return Page(code + " " + (f ? GbkToUtf8(f->name) : std::string()), body);
}

}  // namespace zeza::relay
