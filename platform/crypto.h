// The system's own cryptography for signed packages: SHA-256 and ECDSA on
// the curve P-256. OpenSSL's libcrypto on POSIX, CNG (bcrypt.dll, loaded by
// its full path in the system folder) on Windows; nothing of it ships beside
// the program. Keys and signatures are raw bytes here; the package layer
// reads PEM and the manifest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

constexpr std::size_t Sha256Size = 32;
using TSha256 = std::array<std::uint8_t, Sha256Size>;
// A P-256 public key as an uncompressed point: 0x04, X, Y (32 bytes each).
constexpr std::size_t EcPointSize = 65;
using TEcPoint = std::array<std::uint8_t, EcPointSize>;
// DER SubjectPublicKeyInfo of a P-256 key up to its point: id-ecPublicKey,
// prime256v1, a BIT STRING of 66 bytes without unused bits.
inline constexpr std::uint8_t P256KeyInfoPrefix[] = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01,
    0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

// SHA-256 fed piece by piece. A hash that could not be started or fed
// fails at Finish.
class TSha256Hash {
public:
  TSha256Hash();
  ~TSha256Hash();
  TSha256Hash(const TSha256Hash &) = delete;
  TSha256Hash &operator=(const TSha256Hash &) = delete;
  void Add(const void *data, std::size_t size);
  [[nodiscard]] bool Finish(TSha256 &digest);

  struct TState;

private:
  std::unique_ptr<TState> State;
};

// True when `signature` (DER, as OpenSSL writes it) is a valid ECDSA
// signature with SHA-256 of `data` under the public key `point`; false for
// an invalid signature, a key that is no point of the curve, or a system
// without the service.
[[nodiscard]] bool VerifyEcdsaP256(const TEcPoint &point, std::string_view data,
                                   std::string_view signature);

// Signs `data` with the P-256 private key in `privateKeyPem` (any PEM form
// OpenSSL reads): the signature in DER and the key's public half as DER
// SubjectPublicKeyInfo. False, with `error` in English, for another kind of
// key, or where the platform leaves signing to another tool (Windows).
[[nodiscard]] bool SignEcdsaP256(std::string_view privateKeyPem, std::string_view data,
                                 std::string &signature, std::string &publicKeyDer,
                                 std::string &error);

} // namespace platform
