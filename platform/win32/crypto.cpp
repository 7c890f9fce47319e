// SHA-256 and ECDSA P-256 through CNG. bcrypt.dll is not among the DLLs that
// every Windows takes from the system folder, and the program's own folder
// is where updates land: it is loaded by its full path there, as shell32 is.
#include "platform/crypto.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstring>
#include <string>
#include <vector>

namespace platform {

namespace {

using TOpen = LONG(WINAPI *)(BCRYPT_ALG_HANDLE *, LPCWSTR, LPCWSTR, ULONG);
using TClose = LONG(WINAPI *)(BCRYPT_ALG_HANDLE, ULONG);
using TGetProperty = LONG(WINAPI *)(BCRYPT_HANDLE, LPCWSTR, PUCHAR, ULONG, ULONG *, ULONG);
using TCreateHash = LONG(WINAPI *)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE *, PUCHAR, ULONG, PUCHAR,
                                   ULONG, ULONG);
using THashData = LONG(WINAPI *)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using TFinishHash = LONG(WINAPI *)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
using TDestroyHash = LONG(WINAPI *)(BCRYPT_HASH_HANDLE);
using TImportKeyPair = LONG(WINAPI *)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE, LPCWSTR,
                                      BCRYPT_KEY_HANDLE *, PUCHAR, ULONG, ULONG);
using TDestroyKey = LONG(WINAPI *)(BCRYPT_KEY_HANDLE);
using TVerifySignature = LONG(WINAPI *)(BCRYPT_KEY_HANDLE, VOID *, PUCHAR, ULONG, PUCHAR, ULONG,
                                        ULONG);

constexpr std::size_t CoordinateSize = 32;

// The entry points, loaded once; all null when the DLL or one of them is missing.
struct TCng {
  TOpen Open = nullptr;
  TClose Close = nullptr;
  TGetProperty GetProperty = nullptr;
  TCreateHash CreateHash = nullptr;
  THashData HashData = nullptr;
  TFinishHash FinishHash = nullptr;
  TDestroyHash DestroyHash = nullptr;
  TImportKeyPair ImportKeyPair = nullptr;
  TDestroyKey DestroyKey = nullptr;
  TVerifySignature VerifySignature = nullptr;
  bool Loaded = false;
};

template <typename T> bool Bind(HMODULE module, const char *name, T &entry) {
  entry = reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return entry != nullptr;
}

const TCng &Cng() {
  static const TCng cng = [] {
    TCng c;
    char system[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryA(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
      return c;
    const std::string path = std::string(system, n) + "\\bcrypt.dll";
    // Kept loaded for the life of the process.
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr)
      return c;
    c.Loaded = Bind(module, "BCryptOpenAlgorithmProvider", c.Open) &&
               Bind(module, "BCryptCloseAlgorithmProvider", c.Close) &&
               Bind(module, "BCryptGetProperty", c.GetProperty) &&
               Bind(module, "BCryptCreateHash", c.CreateHash) &&
               Bind(module, "BCryptHashData", c.HashData) &&
               Bind(module, "BCryptFinishHash", c.FinishHash) &&
               Bind(module, "BCryptDestroyHash", c.DestroyHash) &&
               Bind(module, "BCryptImportKeyPair", c.ImportKeyPair) &&
               Bind(module, "BCryptDestroyKey", c.DestroyKey) &&
               Bind(module, "BCryptVerifySignature", c.VerifySignature);
    return c;
  }();
  return cng;
}

bool Succeeded(LONG status) {
  return status >= 0;
}

// One DER INTEGER at `at`, minimal and positive, into 32 bytes big-endian,
// left-padded with zeros.
bool ReadInteger(std::string_view der, std::size_t &at, std::uint8_t *out) {
  if (at + 2 > der.size() || static_cast<std::uint8_t>(der[at]) != 0x02)
    return false;
  std::size_t length = static_cast<std::uint8_t>(der[at + 1]);
  at += 2;
  if (length == 0 || length > 0x7f || at + length > der.size())
    return false;
  const auto byte = [&der](std::size_t i) { return static_cast<std::uint8_t>(der[i]); };
  if ((byte(at) & 0x80) != 0)
    return false; // negative
  // Zero, or a leading zero that is not needed: no valid signature has either.
  if (byte(at) == 0 && (length == 1 || (byte(at + 1) & 0x80) == 0))
    return false;
  std::size_t start = at, size = length;
  if (byte(start) == 0) {
    ++start;
    --size;
  }
  if (size > CoordinateSize)
    return false;
  for (std::size_t i = 0; i < CoordinateSize - size; ++i)
    out[i] = 0;
  for (std::size_t i = 0; i < size; ++i)
    out[CoordinateSize - size + i] = byte(start + i);
  at += length;
  return true;
}

// OpenSSL writes ECDSA-Sig-Value, SEQUENCE { r INTEGER, s INTEGER }; CNG takes r and s
// side by side, 32 bytes each.
bool RawSignature(std::string_view der, std::uint8_t *raw) {
  if (der.size() < 2 || static_cast<std::uint8_t>(der[0]) != 0x30 ||
      static_cast<std::uint8_t>(der[1]) > 0x7f ||
      static_cast<std::size_t>(static_cast<std::uint8_t>(der[1])) + 2 != der.size())
    return false;
  std::size_t at = 2;
  return ReadInteger(der, at, raw) && ReadInteger(der, at, raw + CoordinateSize) &&
         at == der.size();
}

} // namespace

struct TSha256Hash::TState {
  BCRYPT_ALG_HANDLE Algorithm = nullptr;
  BCRYPT_HASH_HANDLE Hash = nullptr;
  std::vector<UCHAR> Object;
  bool Ok = false;
};

TSha256Hash::TSha256Hash() : State(std::make_unique<TState>()) {
  const TCng &cng = Cng();
  if (!cng.Loaded || !Succeeded(cng.Open(&State->Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return;
  // Vista wants the hash object's memory from the caller.
  DWORD objectSize = 0;
  ULONG got = 0;
  if (!Succeeded(cng.GetProperty(State->Algorithm, BCRYPT_OBJECT_LENGTH,
                                 reinterpret_cast<PUCHAR>(&objectSize), sizeof objectSize, &got,
                                 0)))
    return;
  State->Object.resize(objectSize);
  State->Ok = Succeeded(cng.CreateHash(State->Algorithm, &State->Hash, State->Object.data(),
                                       objectSize, nullptr, 0, 0));
}

TSha256Hash::~TSha256Hash() {
  const TCng &cng = Cng();
  if (State->Hash != nullptr)
    cng.DestroyHash(State->Hash);
  if (State->Algorithm != nullptr)
    cng.Close(State->Algorithm, 0);
}

void TSha256Hash::Add(const void *data, std::size_t size) {
  const auto *bytes = static_cast<const UCHAR *>(data);
  while (State->Ok && size != 0) {
    const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    State->Ok = Succeeded(Cng().HashData(State->Hash, const_cast<PUCHAR>(bytes), piece, 0));
    bytes += piece;
    size -= piece;
  }
}

bool TSha256Hash::Finish(TSha256 &digest) {
  const bool ok = State->Ok && Succeeded(Cng().FinishHash(State->Hash, digest.data(),
                                                          static_cast<ULONG>(Sha256Size), 0));
  State->Ok = false;
  return ok;
}

bool VerifyEcdsaP256(const TEcPoint &point, std::string_view data, std::string_view signature) {
  const TCng &cng = Cng();
  std::uint8_t raw[2 * CoordinateSize];
  if (!cng.Loaded || point[0] != 0x04 || !RawSignature(signature, raw))
    return false;
  TSha256Hash hash;
  hash.Add(data.data(), data.size());
  TSha256 digest{};
  if (!hash.Finish(digest))
    return false;
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * CoordinateSize);
  BCRYPT_ECCKEY_BLOB header{};
  header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = static_cast<ULONG>(CoordinateSize);
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, point.data() + 1, 2 * CoordinateSize);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!Succeeded(cng.Open(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
    return false;
  BCRYPT_KEY_HANDLE key = nullptr;
  bool ok = Succeeded(cng.ImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                        blob.data(), static_cast<ULONG>(blob.size()), 0));
  if (ok) {
    ok = cng.VerifySignature(key, nullptr, digest.data(), static_cast<ULONG>(digest.size()), raw,
                             static_cast<ULONG>(sizeof raw), 0) == 0;
    cng.DestroyKey(key);
  }
  cng.Close(algorithm, 0);
  return ok;
}

bool SignEcdsaP256(std::string_view, std::string_view, std::string &, std::string &,
                   std::string &error) {
  error = "zrktool.exe does not sign; sign with the native zrktool (update build --sign) or "
          "with openssl";
  return false;
}

} // namespace platform
