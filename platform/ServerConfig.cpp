#include "platform/ServerConfig.h"

#include <mutex>

#include "zeza/BuildConfig.h"

namespace zeza {
namespace {

std::mutex g_mutex;
std::string g_override;

}  // namespace

std::string ServerBaseUrl() {
    std::lock_guard lock(g_mutex);
    return g_override.empty() ? std::string(kServerUrl) : g_override;
}

std::string HomeHost() {
    return kHomeHost;
}

void SetServerBaseUrlForTesting(const std::string& url) {
    std::lock_guard lock(g_mutex);
    g_override = url;
}

}  // namespace zeza
