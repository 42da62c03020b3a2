#include <charconv>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "server/relay/JsReader.h"
#include "server/relay/Sources.h"

using namespace std::string_literals;
using namespace std::string_view_literals;
using zeza::relay::JsValue;
using zeza::relay::NavPage;
using zeza::relay::ParseJs;
using zeza::relay::ParseNavPage;

namespace {

// A value written out compactly: strings in "" with their bytes as read, keys bare. A number's
// text that std::from_chars does not read whole is marked with '!', since the relay's readers
// take numbers that way.
std::string Dump(const JsValue& v) {
    switch (v.kind) {
        case JsValue::Kind::Null:
            return "null";
        case JsValue::Kind::Bool:
            return v.text;
        case JsValue::Kind::Number: {
            double d = 0;
            auto [end, ec] = std::from_chars(v.text.data(), v.text.data() + v.text.size(), d);
            return v.text + (ec == std::errc() && end == v.text.data() + v.text.size() ? "" : "!");
        }
        case JsValue::Kind::String:
            return '"' + v.text + '"';
        case JsValue::Kind::Array:
        case JsValue::Kind::Object: {
            const bool object = v.kind == JsValue::Kind::Object;
            std::string out(1, object ? '{' : '[');
            for (size_t i = 0; i < v.items.size(); ++i) {
                if (i) out += ',';
                if (object) out += v.keys[i] + ':';
                out += Dump(v.items[i]);
            }
            return out + (object ? '}' : ']');
        }
    }
    return "?";
}

}  // namespace

TEST(JsReader, ReadsWhatBrowsersRead) {
    const struct {
        std::string_view input, read;
    } cases[] = {
        // Trailing commas; a hole reads as null, and the last comma before ']' adds none.
        {"[1,2,]", "[1,2]"},
        {"{a:1,}", "{a:1}"},
        {"[,]", "[null]"},
        {"[1,,2]", "[1,null,2]"},
        {"[1,,]", "[1,null]"},
        {"[ ]", "[]"},
        {"{ }", "{}"},
        // Strings: both quotes, every escape, line continuations.
        {R"(['it\'s',"say \"hi\""])", R"(["it's","say "hi""])"},
        {R"("\n\t\r\b\f\v\/\\")", "\"\n\t\r\b\f\v/\\\""},
        {R"("\0|\101\08|\8")",
         "\"\0|A\0"
         "8|8\""sv},
        {R"("\u4e2D\x41\xe4")", "\"中Aä\""},
        {R"("\ud83d\ude00\u{1F600}\u{00041}")", "\"😀😀A\""},
        {R"("\ud83dx\ude00\ud83d\u0041")", "\"\uFFFDx\uFFFD\uFFFDA\""},
        {"\"a\\\nb\\\r\nc\\\rd\\\u2028e\"", "\"abcde\""},
        {"\"中\\中\"", "\"中中\""},
        // A GBK page: a second byte equal to '\' is part of its character, not an escape.
        {"[\"\x92\x5c\",'\xd6\xd0\\n']", "[\"\x92\x5c\",\"\xd6\xd0\n\"]"},
        // Keys: names, quoted, numbers by their value.
        {"{$a_1:1,_:2,中文:3,'q x':4,\"r\":5,7:6,0x10:7,1.5:8,007:9,1e3:10}",
         "{$a_1:1,_:2,中文:3,q x:4,r:5,7:6,16:7,1.5:8,7:9,1000:10}"},
        {"{true:1,null:2,var:3}", "{true:1,null:2,var:3}"},
        // Words; undefined, NaN and Infinity have no figure and read as null.
        {"[true,false,null,undefined,NaN,Infinity,-Infinity,+Infinity]",
         "[true,false,null,null,null,null,null,null]"},
        // Numbers, in the form from_chars reads.
        {"[-1,+1,1e-3,2E+5,.5,-.5,5.,5.e3,0x1F,-0X10,0b11,0o17,010,- 2]",
         "[-1,1,1e-3,2E+5,0.5,-0.5,5,5e3,31,-16,3,15,010,-2]"},
        {"0xFFFFFFFFFFFFFFFF", "18446744073709551615"},
        {"0x10000000000000000", "18446744073709551616"},
        // Comments and every kind of blank wherever a blank may be.
        {"/*a*/[1,//b\n2/*c*/, /**/3 ]//end", "[1,2,3]"},
        {"[1,//b\u2028 2,//c\r3]", "[1,2,3]"},
        {"[1,\u3000\u00a02\u2028,\v\f3]", "[1,2,3]"},
        // The statement around the value.
        {"var db = {a:1};", "{a:1}"},
        {"\xEF\xBB\xBF var x=[1] ; ;  // done\n", "[1]"},
        {"const r=/*x*/'s'", "\"s\""},
        {"let\tv\n=\n-1;/* end */", "-1"},
    };
    for (const auto& c : cases) {
        std::string error;
        auto v = ParseJs(c.input, error);
        EXPECT_EQ(v ? Dump(*v) : "error: " + error, c.read) << c.input;
    }
}

TEST(JsReader, RefusesWhatBrowsersRefuse) {
    const std::string deep = std::string(65, '[') + std::string(65, ']');
    const std::string cases[] = {
        "",
        " /* only a comment */ ",
        ",",
        "[1,2",
        "[1 2]",
        "\"abc",
        "'abc\"",
        "\"a\nb\"",
        "{a:1",
        "{a 1}",
        "{a:1 b:2}",
        "{,}",
        "{a:1,,}",
        "{-1:1}",
        "[1] trailing",
        "[1];x",
        "[1]/*",
        "/* open [1]",
        R"("\x4g")",
        R"("\u12")",
        R"("\u{}")",
        R"("\u{110000}")",
        "\"ab\\",
        "1e",
        "1e+",
        ".",
        "-",
        "+-1",
        "0x",
        "0b2",
        "1x",
        "1.2.3",
        "5..",
        "foo",
        "{a:foo}",
        "var = 1",
        "var x 1",
        "var x =",
        deep,
        std::string(100000, '['),
    };
    for (std::string_view input : cases) {
        std::string error;
        auto v = ParseJs(input, error);
        EXPECT_FALSE(v) << input.substr(0, 40) << " read as " << Dump(*v);
        EXPECT_NE(error.find(" at byte "), std::string::npos) << input.substr(0, 40) << ": " << error;
    }
    // As deep as the limit allows still reads; a key written twice keeps its last value.
    std::string error;
    EXPECT_TRUE(ParseJs(deep.substr(1, 128), error)) << error;
    auto v = ParseJs("{a:1,b:2,a:3}", error);
    ASSERT_TRUE(v) << error;
    EXPECT_EQ(v->Get("a")->text, "3");
}

TEST(JsReader, NavPageWithTrailingComma) {
    const std::string page =
        R"(var db={chars:["a","b"],datas:[["110022","易方达消费行业","YFDXFHY","3.1020","3.1020","3.0870",)"
        R"("3.0870","0.0150","0.49","开放申购","开放赎回","","1","0","1","","1","0.15%","0.15%","1","1.50%"],)"
        R"(["000001","华夏成长","HXCZ","","","1.0500","3.4100","","","暂停申购","开放赎回","","1","0","1","","1",)"
        R"("0.15%","0.15%","1","1.50%"]],count:["5010","12","3","2"],record:"5010",pages:"26",curpage:"2",)"
        R"(indexsy:[-0.91,-0.80,-1.26,],showday:["2026-08-21","2026-08-20"]})";
    NavPage nav;
    std::string error;
    ASSERT_TRUE(ParseNavPage(page, nav, error)) << error;
    EXPECT_EQ(nav.day, "2026-08-21");
    EXPECT_EQ(nav.prevDay, "2026-08-20");
    ASSERT_EQ(nav.rows.size(), 2u);
    EXPECT_EQ(nav.rows[0].code, "110022");
    EXPECT_EQ(nav.rows[0].latest, "3.1020");
    EXPECT_EQ(nav.rows[0].prevAccumulated, "3.0870");
    EXPECT_EQ(nav.rows[1].latest, "");
    EXPECT_EQ(nav.rows[1].prevLatest, "1.0500");
}
