#pragma once

#include <functional>
#include <string>

namespace zeza {

// Shows a notification on the desktop through the notification service of the session bus
// (org.freedesktop.Notifications), whether or not a tray is shown. True when the service took it;
// false without a session bus or service, at once and without a box.
bool SendDesktopNotification(const std::string& titleUtf8, const std::string& bodyUtf8);

// Tests: hook takes every notification instead of the bus (an empty hook restores the bus).
using DesktopNotifyHook = std::function<bool(const std::string& titleUtf8, const std::string& bodyUtf8)>;
void SetDesktopNotifyHookForTesting(DesktopNotifyHook hook);

}  // namespace zeza
