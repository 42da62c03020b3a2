#include "server/relay/Sources.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "server/relay/JsReader.h"

namespace zeza::relay {
namespace {

std::string Field(const JsValue& row, size_t i) {
    return i < row.items.size() ? std::string(row.items[i].Text()) : std::string();
}

std::string Member(const JsValue& obj, std::string_view key) {
    const JsValue* v = obj.Get(key);
    return v ? std::string(v->Text()) : std::string();
}

bool IsTrue(const JsValue* v) {
    return v && v->kind == JsValue::Kind::Bool && v->text == "true";
}

}  // namespace

bool IsFundCode(std::string_view s) {
    return s.size() == 6 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<double> ParsePositive(std::string_view s) {
    double v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v) || v <= 0)
        return std::nullopt;
    return v;
}

bool IsIsoDate(std::string_view s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

bool ParseCatalogue(std::string_view body, std::vector<CatalogueRow>& rows, std::string& error) {
    auto value = ParseJs(body, error);
    if (!value) return false;
    if (!value->IsArray()) {
        error = "the catalogue is not an array";
        return false;
    }
    rows.clear();
    rows.reserve(value->items.size());
    for (const JsValue& row : value->items) {
        if (!row.IsArray()) continue;
        CatalogueRow r{Field(row, 0), Field(row, 2), Field(row, 3)};
        if (!IsFundCode(r.code) || r.name.empty()) continue;
        rows.push_back(std::move(r));
    }
    if (rows.empty()) {
        error = "no fund in the catalogue";
        return false;
    }
    return true;
}

bool ParseNavPage(std::string_view body, NavPage& page, std::string& error) {
    auto value = ParseJs(body, error);
    if (!value) return false;
    const JsValue* datas = value->Get("datas");
    const JsValue* showday = value->Get("showday");
    if (!datas || !datas->IsArray() || !showday || !showday->IsArray() || showday->items.empty()) {
        error = "no datas or showday in the net value page";
        return false;
    }
    page.day = Field(*showday, 0);
    page.prevDay = Field(*showday, 1);
    if (!IsIsoDate(page.day) || (!page.prevDay.empty() && !IsIsoDate(page.prevDay))) {
        error = "showday holds no dates";
        return false;
    }
    // The counts come as strings ("5010") or numbers; a page without them is one page of all.
    auto count = [&](const char* key) -> size_t {
        const JsValue* v = value->Get(key);
        size_t n = 0;
        std::string_view t = v ? v->Text() : std::string_view();
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
        return ec == std::errc() && end == t.data() + t.size() ? n : 0;
    };
    page.record = count("record");
    page.pages = count("pages");
    page.curpage = count("curpage");
    page.rows.clear();
    page.rows.reserve(datas->items.size());
    for (const JsValue& row : datas->items) {
        if (!row.IsArray()) continue;
        // 0 code, 1 name, 2 initials, 3 latest, 4 accumulated, 5 previous latest, 6 previous accumulated.
        NavPageRow r{Field(row, 0), Field(row, 3), Field(row, 4), Field(row, 5), Field(row, 6)};
        if (!IsFundCode(r.code)) continue;
        page.rows.push_back(std::move(r));
    }
    if (page.rows.empty()) {
        error = "no fund in the net value page";
        return false;
    }
    return true;
}

bool ParseFundInfo(std::string_view body, std::vector<FundInfo>& rows, std::string& error) {
    auto value = ParseJs(body, error);
    if (!value) return false;
    const JsValue* datas = value->Get("Datas");
    if (!value->IsObject() || (value->Get("Success") && !IsTrue(value->Get("Success"))) || !datas ||
        !(datas->IsArray() || datas->IsNull())) {
        error = "not a successful fund information answer";
        return false;
    }
    rows.clear();
    for (const JsValue& item : datas->items) {
        // NAV is the latest value; ACCNAV the accumulated one, never taken for it.
        FundInfo f{Member(item, "FCODE"), Member(item, "PDATE"), Member(item, "NAV"), Member(item, "ACCNAV"),
                   Member(item, "NAVCHGRT")};
        if (IsFundCode(f.code)) rows.push_back(std::move(f));
    }
    return true;
}

bool ParseEstimates(std::string_view body, std::vector<EstimateRow>& rows, std::string& error) {
    auto value = ParseJs(body, error);
    if (!value) return false;
    const JsValue* data = value->Get("data");
    if (!value->IsObject() || !IsTrue(value->Get("success")) || !data ||
        !(data->IsArray() || data->IsNull())) {
        error = "not a successful valuation answer";
        return false;
    }
    rows.clear();
    for (const JsValue& item : data->items) {
        EstimateRow r;
        r.code = Member(item, "FCODE");
        if (!IsFundCode(r.code)) continue;
        // null (or "") is "no estimate": such a fund is left out, never sent as 0.
        r.value = ParsePositive(Member(item, "GSZ"));
        r.time = Member(item, "GZTIME");
        rows.push_back(std::move(r));
    }
    return true;
}

}  // namespace zeza::relay
