#pragma once

#include <string>

namespace zeza {

// The folder of the user's login entries: $XDG_CONFIG_HOME/autostart when that is an absolute path,
// else ~/.config/autostart; the test's folder when one is set. "" when no home is known.
std::string AutostartFolder();

// Whether the login entry zeza.desktop exists in AutostartFolder().
bool AutostartEnabled();

// Writes (on) the login entry that starts program in workDir, the folder of its Zeza.db, or removes it
// (off; no entry is fine). 0 done; -1 no folder known, -2 not written or not removed.
int SetAutostart(bool on, const std::string& program, const std::string& workDir);

// Tests: the login entries live in folder ("" restores the user's).
void SetAutostartFolderForTesting(const std::string& folder);

}  // namespace zeza
