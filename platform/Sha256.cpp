#include "platform/Sha256.h"

#include <openssl/evp.h>

namespace zeza {

void Sha256::FreeContext::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : m_context(EVP_MD_CTX_new()) {
    m_ok = m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::Update(std::string_view bytes) {
    m_ok = m_ok && EVP_DigestUpdate(m_context.get(), bytes.data(), bytes.size()) == 1;
}

std::array<uint8_t, 32> Sha256::Final() {
    std::array<uint8_t, 32> out{};
    unsigned int size = 0;
    if (!m_ok || EVP_DigestFinal_ex(m_context.get(), out.data(), &size) != 1 || size != out.size())
        out.fill(0);
    m_ok = false;
    return out;
}

std::string Sha256::Hex(std::string_view bytes) {
    std::array<uint8_t, 32> digest{};
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
        size != digest.size())
        return std::string();
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * digest.size());
    for (uint8_t b : digest) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

}  // namespace zeza
