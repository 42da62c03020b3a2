#include "server/relay/RelayPages.h"

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
           "</style>\n</head>\n<body>\n" +
           body + "</body>\n</html>\n";
}

constexpr const char* kSourceNote =
    "<p><small>数据转自公开的基金网页，仅供个人参考，不保证及时、准确或完整。</small></p>\n";

}  // namespace

std::string HomePage(const Snapshot& s) {
    std::string body = "<h1>Zeza 基金数据服务（公开数据转发）</h1>\n<p>净值日期 " +
                       SitePages::Escape(s.quoteDate) + "，共 " + std::to_string(s.funds.size()) +
                       " 只基金，" + std::to_string(s.navs.size()) + " 只有净值，" +
                       std::to_string(s.estimates.size()) + " 只有预估。</p>\n" + kSourceNote;
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
    row("预估净值(元)", est ? Value4(est->value) : "暂无预估");
    if (est && !s.estimateStamp.empty()) row("预估时间", SitePages::Escape(s.estimateStamp));
    body += "</table>\n" + std::string(kSourceNote) + "<p><a href=\"../\">返回首页</a></p>\n";
    return Page(code + " " + (f ? GbkToUtf8(f->name) : std::string()), body);
}

}  // namespace zeza::relay
