#include "platform/ServerConfig.h"

#include <mutex>

namespace zeza {
namespace {

std::mutex g_mutex;
std::string g_override;

}  // namespace

std::string ServerBaseUrl() {
    std::lock_guard lock(g_mutex);
    return g_override.empty() ? std::string(ZEZA_SERVER_URL) : g_override;
}

std::string HomeHost() { return ZEZA_HOME_HOST; }

void SetServerBaseUrlForTesting(const std::string& url) {
    std::lock_guard lock(g_mutex);
    g_override = url;
}

}  // namespace zeza
