#include "platform/Shell.h"

#include <utility>

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace zeza {

namespace {

Shell::OpenUrlHook& OpenUrlOverride() {
    static Shell::OpenUrlHook hook;
    return hook;
}

Shell::StartProgramHook& StartProgramOverride() {
    static Shell::StartProgramHook hook;
    return hook;
}

}  // namespace

bool Shell::OpenUrl(const QString& url) {
    if (const auto& hook = OpenUrlOverride()) return hook(url);
    return QDesktopServices::openUrl(QUrl(url));
}

bool Shell::StartProgram(const QString& program, const QStringList& args) {
    if (const auto& hook = StartProgramOverride()) return hook(program, args);
    return QProcess::startDetached(program, args);
}

void Shell::SetOpenUrlHook(OpenUrlHook hook) {
    OpenUrlOverride() = std::move(hook);
}

void Shell::SetStartProgramHook(StartProgramHook hook) {
    StartProgramOverride() = std::move(hook);
}

}  // namespace zeza
