// The relay's reader of the public pages' scripts. Reading is deterministic; a value read is
// well formed (keys parallel to items, the last of a repeated key found, numbers that from_chars
// reads whole); and the value written back out as a literal reads as the same value again.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/relay/JsReader.h"
#include "server/relay/Sources.h"
#include "tests/fuzz/FuzzWorkspace.h"

using zeza::fuzz::Fail;
using zeza::relay::JsValue;
using zeza::relay::ParseJs;

namespace {

bool Same(const JsValue& a, const JsValue& b) {
    if (a.kind != b.kind || a.text != b.text || a.keys != b.keys || a.items.size() != b.items.size())
        return false;
    for (size_t i = 0; i < a.items.size(); ++i)
        if (!Same(a.items[i], b.items[i])) return false;
    return true;
}

void Check(const JsValue& v, int depth) {
    if (depth > 64) Fail("nested deeper than the limit");
    const bool object = v.kind == JsValue::Kind::Object;
    if (object ? v.keys.size() != v.items.size() : !v.keys.empty()) Fail("keys not parallel to items");
    if (v.kind != JsValue::Kind::Array && !object && !v.items.empty()) Fail("a scalar with items");
    if (object && !v.keys.empty() && v.Get(v.keys.back()) != &v.items.back())
        Fail("a repeated key does not find its last value");
    switch (v.kind) {
        case JsValue::Kind::Null:
        case JsValue::Kind::Array:
        case JsValue::Kind::Object:
            if (!v.text.empty()) Fail("text on a value without any");
            break;
        case JsValue::Kind::Bool:
            if (v.text != "true" && v.text != "false") Fail("a bool reads " + v.text);
            break;
        case JsValue::Kind::Number: {
            double d = 0;
            auto [end, ec] = std::from_chars(v.text.data(), v.text.data() + v.text.size(), d);
            if (end != v.text.data() + v.text.size() ||
                (ec != std::errc() && ec != std::errc::result_out_of_range))
                Fail("from_chars does not read the number " + v.text);
            break;
        }
        case JsValue::Kind::String:
            break;
    }
    for (const JsValue& item : v.items) Check(item, depth + 1);
}

void AppendQuoted(std::string& out, std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);  // other bytes as read: UTF-8 or GBK
        }
    }
    out += '"';
}

// The value as a literal in the pages' loose form: trailing commas, a comment, blanks.
void Write(const JsValue& v, std::string& out) {
    switch (v.kind) {
        case JsValue::Kind::Null:
            out += "null";
            return;
        case JsValue::Kind::Bool:
        case JsValue::Kind::Number:
            out += v.text;
            return;
        case JsValue::Kind::String:
            AppendQuoted(out, v.text);
            return;
        case JsValue::Kind::Array:
        case JsValue::Kind::Object:
            break;
    }
    const bool object = v.kind == JsValue::Kind::Object;
    out += object ? "{ " : "[";
    for (size_t i = 0; i < v.items.size(); ++i) {
        if (object) {
            AppendQuoted(out, v.keys[i]);
            out += ":/**/";
        }
        Write(v.items[i], out);
        out += ',';
    }
    out += object ? '}' : ']';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string error, again;
    auto value = ParseJs(input, error);
    auto second = ParseJs(input, again);
    if (value.has_value() != second.has_value() || error != again || (value && !Same(*value, *second)))
        Fail("two readings of the same text differ");
    if (!value) {
        if (error.find(" at byte ") == std::string::npos) Fail("a failure without its place: " + error);
        return 0;
    }
    Check(*value, 0);
    // Written back, the value reads the same. A text that is not UTF-8 is read as GBK, whose
    // characters may hide a '\' written after a byte from 0x80 on, so only UTF-8 is written back.
    std::string text = "var v = ";
    Write(*value, text);
    text += ";\n";
    if (!zeza::relay::IsValidUtf8(text)) return 0;
    auto reread = ParseJs(text, error);
    if (!reread) Fail("the value written back does not read: " + error + "\n" + text);
    if (!Same(*value, *reread)) Fail("the value written back reads otherwise:\n" + text);
    return 0;
}
