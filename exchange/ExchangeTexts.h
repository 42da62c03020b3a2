#pragma once

#include <string>

// The texts the user meets when holdings are exported or imported (UTF-8, for
// the widgets).
namespace zeza {

// What the file chooser is given: the initial file name, the one filter, and
// the suffix added to a name typed without one (".TXT", given without its dot).
inline constexpr const char* kHoldingsFileName = "Zeza.txt";
inline constexpr const char* kHoldingsFileFilter = "扩展名(*.TXT)";
inline constexpr const char* kHoldingsFileSuffix = "TXT";

// The caption of every box of the exchange.
inline constexpr const char* kExchangeCaption = "提示";
// Asked (OK and Cancel, question icon) before an existing file is replaced.
inline constexpr const char* kOverwriteQuestion = "文件已存在，是否覆盖原数据？";
// Followed by the full path of the written file.
inline constexpr const char* kExportDoneText = "保存成功:\n";
inline constexpr const char* kImportDoneText = "数据导入成功。";

// Shown (warning icon) when an export or import fails; nothing was written or added.
inline constexpr const char* kExportFileFailedText = "保存失败，无法写入文件:\n";  // followed by the path
inline constexpr const char* kExportReadFailedText = "保存失败，无法读取我的基金数据。";
inline constexpr const char* kImportFileFailedText = "导入失败，无法读取文件:\n";  // followed by the path
inline constexpr const char* kImportBusyText = "导入失败，数据库正忙，请稍后再试。";
inline constexpr const char* kImportNotSavedText = "导入失败，数据未能保存，请稍后再试。";

// The failure message for a result of ExportHoldings below 1; path in UTF-8.
inline std::string ExportFailedText(int result, const std::string& path) {
    if (result == -1 || result == -2) return kExportReadFailedText;
    return kExportFileFailedText + path;
}

// The failure message for a result of ImportHoldings below 1; path in UTF-8.
inline std::string ImportFailedText(int result, const std::string& path) {
    if (result == -3 || result == -4) return kImportFileFailedText + path;
    if (result == -2) return kImportBusyText;  // the write lock did not come in time
    return kImportNotSavedText;
}

// The import's success message with how many holdings were added and how many
// lines were skipped.
inline std::string ImportDoneText(int added, int skipped) {
    return std::string(kImportDoneText) + "\n导入 " + std::to_string(added) + " 条记录，跳过 " +
           std::to_string(skipped) + " 行。";
}

}  // namespace zeza
