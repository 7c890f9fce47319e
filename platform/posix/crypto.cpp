// SHA-256 and ECDSA P-256 through OpenSSL's libcrypto.
#include "platform/crypto.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace platform {

namespace {

struct TFreeKey {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct TFreeContext {
  void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
struct TFreeBio {
  void operator()(BIO *bio) const { BIO_free(bio); }
};
using TKey = std::unique_ptr<EVP_PKEY, TFreeKey>;
using TContext = std::unique_ptr<EVP_MD_CTX, TFreeContext>;

std::string OpenSslError(const char *what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  char text[256] = {};
  if (code != 0)
    ERR_error_string_n(code, text, sizeof text);
  return code != 0 ? std::string(what) + ": " + text : std::string(what);
}

} // namespace

struct TSha256Hash::TState {
  TContext Context{EVP_MD_CTX_new()};
  bool Ok = false;
};

TSha256Hash::TSha256Hash() : State(std::make_unique<TState>()) {
  State->Ok = State->Context && EVP_DigestInit_ex(State->Context.get(), EVP_sha256(), nullptr) == 1;
}

TSha256Hash::~TSha256Hash() = default;

void TSha256Hash::Add(const void *data, std::size_t size) {
  if (State->Ok && size != 0)
    State->Ok = EVP_DigestUpdate(State->Context.get(), data, size) == 1;
}

bool TSha256Hash::Finish(TSha256 &digest) {
  unsigned int length = 0;
  const bool ok = State->Ok &&
                  EVP_DigestFinal_ex(State->Context.get(), digest.data(), &length) == 1 &&
                  length == Sha256Size;
  State->Ok = false;
  return ok;
}

bool VerifyEcdsaP256(const TEcPoint &point, std::string_view data, std::string_view signature) {
  std::uint8_t info[sizeof P256KeyInfoPrefix + EcPointSize];
  std::copy(std::begin(P256KeyInfoPrefix), std::end(P256KeyInfoPrefix), info);
  std::copy(point.begin(), point.end(), info + sizeof P256KeyInfoPrefix);
  const unsigned char *cursor = info;
  TKey key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(sizeof info)));
  TContext context(EVP_MD_CTX_new());
  const bool ok =
      key && context &&
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
      EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.data()),
                       signature.size(), reinterpret_cast<const unsigned char *>(data.data()),
                       data.size()) == 1;
  ERR_clear_error();
  return ok;
}

bool SignEcdsaP256(std::string_view privateKeyPem, std::string_view data, std::string &signature,
                   std::string &publicKeyDer, std::string &error) {
  std::unique_ptr<BIO, TFreeBio> bio(
      BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
  TKey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) {
    error = OpenSslError("not a private key in PEM that can be read without a password");
    return false;
  }
  char group[64] = {};
  std::size_t groupLength = 0;
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC ||
      EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                     &groupLength) != 1 ||
      std::string_view(group, groupLength) != "prime256v1") {
    ERR_clear_error();
    error = "the key is not an ECDSA key on the curve P-256 (prime256v1)";
    return false;
  }
  unsigned char *der = nullptr;
  const int derLength = i2d_PUBKEY(key.get(), &der);
  if (derLength <= 0) {
    error = OpenSslError("the public half of the key cannot be written");
    return false;
  }
  publicKeyDer.assign(reinterpret_cast<const char *>(der), static_cast<std::size_t>(derLength));
  OPENSSL_free(der);
  TContext context(EVP_MD_CTX_new());
  std::size_t length = 0;
  const auto *bytes = reinterpret_cast<const unsigned char *>(data.data());
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, bytes, data.size()) != 1) {
    error = OpenSslError("signing failed");
    return false;
  }
  signature.assign(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                     bytes, data.size()) != 1) {
    error = OpenSslError("signing failed");
    return false;
  }
  signature.resize(length);
  return true;
}

} // namespace platform
