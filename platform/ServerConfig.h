#pragma once

#include <string>

namespace zeza {

// Base URL of the data server (scheme and host, ending in "/"), fixed at build time.
std::string ServerBaseUrl();

// Host name of the home site, shown in the status bar, tooltip and messages.
std::string HomeHost();

// Tests point the program at their own server on 127.0.0.1; empty restores the built-in URL.
void SetServerBaseUrlForTesting(const std::string& url);

}  // namespace zeza
