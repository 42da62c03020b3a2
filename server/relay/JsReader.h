#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeza::relay {

// One value of a JSON text or of a JavaScript literal as the fund pages write them
// (object keys without quotes, strings in single or double quotes).
struct JsValue {
    enum class Kind : unsigned char { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    std::string text;               // a string's characters (UTF-8), a number's or bool's literal
    std::vector<JsValue> items;     // an array's elements, an object's values
    std::vector<std::string> keys;  // an object's keys, parallel to items

    bool IsNull() const { return kind == Kind::Null; }
    bool IsString() const { return kind == Kind::String; }
    bool IsArray() const { return kind == Kind::Array; }
    bool IsObject() const { return kind == Kind::Object; }
    // The member named key of an object; nullptr when absent or not an object.
    const JsValue* Get(std::string_view key) const;
    // A string's or number's text; "" for anything else.
    std::string_view Text() const {
        return kind == Kind::String || kind == Kind::Number ? std::string_view(text) : std::string_view();
    }
};

// Reads the one value of text, after an optional "var name =" and before an optional ';'.
// Nothing else may follow. nullopt, with the reason in error, for anything it cannot read.
std::optional<JsValue> ParseJs(std::string_view text, std::string& error);

}  // namespace zeza::relay
