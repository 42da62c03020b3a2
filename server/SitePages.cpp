#include "server/SitePages.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/GbkCodec.h"
#include "platform/LocalTime.h"

namespace zeza::server {
namespace {

std::string Page(const std::string& title, const std::string& body, const std::string& extraStyle = "") {
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           SitePages::Escape(title) +
           "</title>\n<style>\nbody{font-family:\"Microsoft YaHei\",\"WenQuanYi Micro Hei\",sans-serif;"
           "background:#f4f6fb;color:#222;margin:16px;}\na{color:#1a4d9c;}\n"
           "table{border-collapse:collapse;}td,th{border:1px solid #bfcae6;padding:4px 10px;}\n"
           "th{background:#bfcae6;text-align:left;}.up{color:#f00;}.down{color:#009900;}\n" +
           extraStyle + "</style>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

std::string Fixed(double v, const char* format = "%0.4f") {
    char buf[64];
    std::snprintf(buf, sizeof(buf), format, v);
    return buf;
}

// Change with the sign and the class that colours it red for rises, green otherwise.
std::string Change(double now, double before) {
    double diff = now - before;
    double pct = before != 0 ? diff / before * 100 : 0;
    const char* cls = diff > 0 ? "up" : "down";
    const char* fmt = diff > 0 ? "%+0.4f" : "%0.4f";
    return "<span class=\"" + std::string(cls) + "\">" + Fixed(diff, fmt) + " (" + Fixed(pct, fmt) +
           "%)</span>";
}

std::string LocalTime(int64_t t) {
    const std::tm tm = LocalTimeOf(static_cast<std::time_t>(t));
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M", &tm);
    return buf;
}

}  // namespace

std::string SitePages::Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string SitePages::TypeName(const std::string& typeCode) {
    if (typeCode == "gu") return "股票型";
    if (typeCode == "zhai") return "债券型";
    if (typeCode == "hun") return "混合型";
    if (typeCode == "zhi") return "指数型";
    return typeCode;
}

std::string SitePages::Home(const FundData& data) {
    std::string body =
        "<h1>Zeza 基金数据服务</h1>\n"
        "<p>本站为 Zeza 基金助手提供基金列表、最新净值和盘中预估净值，并提供基金详情页面。</p>\n"
        "<p>净值日期 " +
        Escape(data.QuoteDate()) + "，共 " + std::to_string(data.Funds().size()) + " 只基金，预估更新于 " +
        LocalTime(data.EstTime()) +
        "。</p>\n<h2>链接</h2>\n<ul>\n"
        "<li><a href=\"fund/fuCap.php\">今日行情提示</a></li>\n"
        "<li><a href=\"fund/feedback.php\">意见反馈</a></li>\n"
        "<li><a href=\"fund/gdata.php?tp=list&amp;dt=0\">基金列表 (GBK 文本)</a></li>\n"
        "<li><a href=\"fund/gdata.php?tp=stk&amp;dt=0\">最新净值 (GBK 文本)</a></li>\n"
        "<li><a href=\"fund/gdata.php?tp=est&amp;dt=0\">预估净值 (GBK 文本)</a></li>\n"
        "</ul>\n<h2>基金</h2>\n<ul>\n";
    size_t shown = 0;
    for (const FundRecord& f : data.Funds()) {
        if (++shown > 10) break;
        body += "<li><a href=\"fund/fuskip.php?code=" + f.code + "\">" + f.code + " " +
                Escape(GbkToUtf8(f.name)) + "</a></li>\n";
    }
    body += "</ul>\n";
    return Page("Zeza 基金数据服务", body);
}

std::string SitePages::Banner(const FundData& data) {
    // Average change of the stock funds, the market's mood in one line.
    int rises = 0, falls = 0, counted = 0;
    double sum = 0;
    for (const FundRecord& f : data.Funds()) {
        if (f.typeCode != "gu") continue;
        const NavRecord* nav = data.FindNav(f.code);
        if (!nav || nav->previous <= 0) continue;
        double pct = (nav->latest / nav->previous - 1) * 100;
        sum += pct;
        ++counted;
        if (pct > 0)
            ++rises;
        else if (pct < 0)
            ++falls;
    }
    std::string note;
    if (counted > 0) {
        double avg = sum / counted;
        note = "股票型基金平均" + std::string(avg >= 0 ? "上涨 " : "下跌 ") + Fixed(std::fabs(avg), "%0.2f") +
               "%，上涨 " + std::to_string(rises) + " 只，下跌 " + std::to_string(falls) + " 只";
    } else {
        note = "暂无股票型基金净值";
    }
    std::string body = "<div class=\"cap\"><div class=\"date\">净值日期 " + Escape(data.QuoteDate()) +
                       "</div><div class=\"note\">" + Escape(note) + "</div></div>\n";
    return Page(
        "行情提示", body,
        "body{margin:0;background:#bfcae6;}\n"
        ".cap{width:500px;height:70px;overflow:hidden;box-sizing:border-box;padding:8px 12px;}\n"
        ".date{font-weight:bold;font-size:15px;}.note{font-size:13px;margin-top:6px;white-space:nowrap;}\n");
}

std::string SitePages::FeedbackForm(const std::string& message) {
    std::string body = "<h2>意见反馈</h2>\n";
    if (!message.empty()) body += "<p class=\"up\">" + Escape(message) + "</p>\n";
    body +=
        "<form method=\"post\" action=\"feedback.php\">\n"
        "<p>您的意见或建议：<br><textarea name=\"text\" rows=\"8\" cols=\"60\"></textarea></p>\n"
        "<p>联系方式（可不填）：<input name=\"contact\" size=\"40\"></p>\n"
        "<p><input type=\"submit\" value=\"提交\"></p>\n"
        "</form>\n";
    return Page("意见反馈", body);
}

std::string SitePages::FeedbackThanks() {
    return Page("意见反馈", "<h2>谢谢您的反馈！</h2>\n<p>我们已收到您的意见。</p>\n");
}

std::string SitePages::FeedbackFailed() {
    return Page("意见反馈", "<h2>提交失败</h2>\n<p class=\"up\">暂时无法保存您的意见，请稍后再试。</p>\n");
}

std::string SitePages::Fund(const FundData& data, const FundRecord& fund) {
    std::string name = Escape(GbkToUtf8(fund.name));
    std::string body = "<h2>" + fund.code + " " + name + "</h2>\n<table>\n";
    auto row = [&](const std::string& caption, const std::string& value) {
        body += "<tr><th>" + caption + "</th><td>" + value + "</td></tr>\n";
    };
    row("基金代码", fund.code);
    row("基金简称", name);
    row("基金类型", TypeName(fund.typeCode));
    const NavRecord* nav = data.FindNav(fund.code);
    if (nav) {
        row("净值日期", Escape(data.QuoteDate()));
        row("累计净值", Fixed(nav->accumulated));
        row("最新净值(元)", Fixed(nav->latest));
        row("上期净值(元)", Fixed(nav->previous));
        row("增长额(增长幅)", Change(nav->latest, nav->previous));
    } else {
        row("最新净值(元)", "暂无净值");
    }
    if (auto est = data.FindEstimate(fund.code)) {
        row("预估净值(元)", Fixed(*est));
        if (nav) row("预估涨跌", Change(*est, nav->latest));
        row("预估时间", LocalTime(data.EstTime()));
    } else {
        row("预估净值(元)", "暂无预估");
    }
    body += "</table>\n<p><a href=\"../\">返回首页</a></p>\n";
    return Page(fund.code + " " + GbkToUtf8(fund.name), body);
}

std::string SitePages::NotFound(const std::string& what) {
    return Page("未找到",
                "<h2>未找到</h2>\n<p>" + Escape(what) + "</p>\n<p><a href=\"/\">返回首页</a></p>\n");
}

}  // namespace zeza::server
