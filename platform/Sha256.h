#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeza {

// SHA-256 (FIPS 180-4), enough to publish the checksum of an offered program file
// without pulling a crypto library into the server.
class Sha256 {
  public:
    Sha256();

    void Update(std::string_view bytes);
    // Finishes the hash; the object must not be updated afterwards.
    std::array<uint8_t, 32> Final();

    // Lower-case hex digest of bytes.
    static std::string Hex(std::string_view bytes);

  private:
    void Block(const uint8_t* p);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer{};
    size_t m_buffered = 0;
    uint64_t m_totalBytes = 0;
};

}  // namespace zeza
