#pragma once

#include <string>
#include <string_view>

#include <QString>

#include "platform/GbkCodec.h"

// GBK at the widgets: the program's GBK bytes as the text a widget shows and
// back, through the pair of platform/GbkCodec.h. For Qt code only.
namespace zeza {

// GBK bytes as widget text; bytes that are not valid GBK become U+FFFD.
inline QString GbkToQString(std::string_view gbk) {
    // Most texts are numbers and codes: ASCII needs no converter.
    for (char c : gbk)
        if (static_cast<unsigned char>(c) >= 0x80) return QString::fromStdString(GbkToUtf8(gbk));
    return QString::fromLatin1(gbk.data(), static_cast<qsizetype>(gbk.size()));
}

// Widget text as GBK bytes; characters GBK cannot hold become '?'.
inline std::string QStringToGbk(const QString& text) {
    return Utf8ToGbk(text.toStdString());
}

}  // namespace zeza
