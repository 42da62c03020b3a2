#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeza::relay {

// One value of a JSON text or of a JavaScript literal, read as a browser reads the fund pages'
// scripts: keys with or without quotes, strings in either quote, trailing commas, comments.
// undefined, NaN and Infinity read as Null, since the pages write them where a figure is missing;
// an array's hole ([1,,2]) is Null too.
struct JsValue {
    enum class Kind : unsigned char { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    // A string's characters (escapes as UTF-8, other bytes as sent, GBK too); a bool's "true" or
    // "false"; a number in the decimal form std::from_chars reads ("-0.5", "1e-3"; hex as decimal).
    std::string text;
    std::vector<JsValue> items;     // an array's elements, an object's values
    std::vector<std::string> keys;  // an object's keys, parallel to items

    bool IsNull() const { return kind == Kind::Null; }
    bool IsString() const { return kind == Kind::String; }
    bool IsArray() const { return kind == Kind::Array; }
    bool IsObject() const { return kind == Kind::Object; }
    // The member named key of an object (the last one, when a key is written twice, as a script
    // keeps it); nullptr when absent or not an object.
    const JsValue* Get(std::string_view key) const;
    // A string's or number's text; "" for anything else.
    std::string_view Text() const {
        return kind == Kind::String || kind == Kind::Number ? std::string_view(text) : std::string_view();
    }
};

// Reads the one value of text, after an optional "var name =" (or let, const) and before an
// optional ';'; white space and comments may stand around it, nothing else. Nesting deeper than 64
// arrays and objects is refused. nullopt, with the reason and byte in error, for anything else.
std::optional<JsValue> ParseJs(std::string_view text, std::string& error);

}  // namespace zeza::relay
