#pragma once

#include <functional>

#include <QString>
#include <QStringList>

namespace zeza {

// The desktop shell: the user's browser and other programs. Requests are
// fire-and-forget; the result only says whether the shell took them.
class Shell {
  public:
    using OpenUrlHook = std::function<bool(const QString& url)>;
    using StartProgramHook = std::function<bool(const QString& program, const QStringList& args)>;

    // Opens url in the user's browser.
    static bool OpenUrl(const QString& url);
    // Starts program detached from this process.
    static bool StartProgram(const QString& program, const QStringList& args = {});

    // Tests: replace the shell with a hook (an empty hook restores the shell).
    static void SetOpenUrlHook(OpenUrlHook hook);
    static void SetStartProgramHook(StartProgramHook hook);
};

}  // namespace zeza
