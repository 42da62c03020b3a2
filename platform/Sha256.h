#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace zeza {

// SHA-256 (FIPS 180-4) by the system's crypto library, to publish and check
// the checksum of an offered program file.
class Sha256 {
  public:
    Sha256();
    ~Sha256();

    void Update(std::string_view bytes);
    // Finishes the hash; the object must not be updated afterwards. All zero
    // bytes when the crypto library failed (out of memory).
    std::array<uint8_t, 32> Final();

    // Lower-case hex digest of bytes; "" when the crypto library failed (out
    // of memory), which matches no digest.
    static std::string Hex(std::string_view bytes);

  private:
    struct FreeContext {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, FreeContext> m_context;
    bool m_ok = false;
};

}  // namespace zeza
