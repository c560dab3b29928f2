// The TLS stream on the system's Schannel (SSPI). The certificate is checked
// here rather than by Schannel (manual validation): the chain is built by
// the system's chain engine against its trusted roots, with the peer's CA
// file as an additional store, and the SSL policy checks the server name and
// the dates. A chain that ends at a certificate of the CA file counts as
// trusted; nothing else relaxes the checks.
#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/base64.h"
#include "common/ip_address.h"
#include "platform/tcp_socket_calls.h"
#include "platform/tls_stream.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

// The SSL policy's flags that leave the unknown-root and the name check to
// the caller (declared in the WinINet header, which the policy does not need
// otherwise); each is passed only after this file has made that check itself.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreNameInvalid = 0x00001000;

// Whether the certificate's subject alternative names hold the IP address
// `address`. The SSL policy compares the server name with DNS names (and, on
// some systems only, with addresses), so an address is checked here.
bool CertificateNamesAddress(PCCERT_CONTEXT certificate, const std::string& address) {
  std::string bytes;
  if (const auto v4 = ParseDecimalQuad(address)) {
    bytes.assign(reinterpret_cast<const char*>(&*v4), 4);  // network order
  } else if (const auto v6 = ParseIpv6Text(address)) {
    bytes.assign(reinterpret_cast<const char*>(v6->data()), v6->size());
  } else {
    return false;
  }
  const CERT_INFO* info = certificate->pCertInfo;
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (extension == nullptr) return false;
  // X509_ALTERNATE_NAME, without the C cast of its macro.
  const auto alternateName = reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(12));
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, alternateName, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                           &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            entry.IPAddress.cbData == bytes.size() &&
            std::equal(bytes.begin(), bytes.end(), reinterpret_cast<const char*>(entry.IPAddress.pbData));
  }
  LocalFree(names);
  return found;
}

std::string StatusText(const char* what, long status) {
  char text[64];
  std::snprintf(text, sizeof text, "%s: 0x%08lX", what, static_cast<unsigned long>(status));
  return text;
}

TlsFailure FailureOfPolicyError(DWORD error) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
      return TlsFailure::kExpired;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDCA):
      return TlsFailure::kUnknownIssuer;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return TlsFailure::kNameMismatch;
    default:
      return TlsFailure::kCertificate;
  }
}

// The certificates of a PEM file in a memory store; nullptr when the file
// cannot be read or holds none.
HCERTSTORE LoadPemStore(const std::string& path, std::string& why) {
  std::ifstream in(std::filesystem::path(Widen(path)), std::ios::binary);
  if (!in) {
    why = path + ": cannot be read";
    return nullptr;
  }
  std::stringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  int added = 0;
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
    const std::size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    std::string base64;
    for (std::size_t i = at + kBegin.size(); i < end; ++i) {
      if (pem[i] != '\r' && pem[i] != '\n' && pem[i] != ' ' && pem[i] != '\t') base64 += pem[i];
    }
    at = end + kEnd.size();
    const auto der = Base64Decode(base64);
    if (!der || der->empty()) continue;
    if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                         reinterpret_cast<const BYTE*>(der->data()),
                                         static_cast<DWORD>(der->size()),
                                         CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      ++added;
    }
  }
  if (added == 0) {
    CertCloseStore(store, 0);
    why = path + ": holds no certificate";
    return nullptr;
  }
  return store;
}

class SchannelStream final : public TlsStream {
 public:
  SchannelStream(int socket, TlsPeer peer) : socket_(socket), peer_(std::move(peer)) {}
  ~SchannelStream() override {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
    if (extraStore_ != nullptr) CertCloseStore(extraStore_, 0);
  }
  SchannelStream(const SchannelStream&) = delete;
  SchannelStream& operator=(const SchannelStream&) = delete;

  bool Handshake(Clock::time_point deadline, const std::stop_token& stop) override {
    name_ = UnbracketedName(peer_.serverName);
    if (!peer_.caFile.empty()) {
      std::string why;
      extraStore_ = LoadPemStore(peer_.caFile, why);
      if (extraStore_ == nullptr) return Fail(TlsFailure::kCaFile, ENOENT, why);
    }
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    // The protocol versions are the system's policy; the certificate is ours.
    credentials.dwFlags =
        SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry{};
    const SECURITY_STATUS acquired = AcquireCredentialsHandleW(
        nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &credentials,
        nullptr, nullptr, &credentials_, &expiry);
    if (acquired != SEC_E_OK) {
      return Fail(TlsFailure::kHandshake, EPROTO, StatusText("credentials", acquired));
    }
    haveCredentials_ = true;
    if (!Negotiate(deadline, stop)) return false;
    return CheckCertificate() && ReadStreamSizes();
  }

  bool Send(std::string_view data, Clock::time_point deadline,
            const std::stop_token& stop) override {
    while (!data.empty()) {
      const std::size_t size = std::min<std::size_t>(data.size(), sizes_.cbMaximumMessage);
      std::vector<char> record(sizes_.cbHeader + size + sizes_.cbTrailer);
      std::copy_n(data.data(), size, record.data() + sizes_.cbHeader);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(size), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + size},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = EncryptMessage(&context_, 0, &description, 0);
      if (status != SEC_E_OK) {
        return Fail(TlsFailure::kConnection, EPROTO, StatusText("encrypt", status));
      }
      const std::size_t length = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
      if (!SendAll(std::string_view(record.data(), length), deadline, stop)) return false;
      data.remove_prefix(size);
    }
    return true;
  }

  long Receive(char* data, std::size_t size, Clock::time_point deadline,
               const std::stop_token& stop) override {
    for (;;) {
      if (!plain_.empty()) {
        const std::size_t n = std::min(size, plain_.size());
        std::copy_n(plain_.data(), n, data);
        plain_.erase(0, n);
        return static_cast<long>(n);
      }
      if (closed_) return 0;
      if (!received_.empty()) {
        const int decrypted = Decrypt(deadline, stop);
        if (decrypted < 0) return -1;
        if (decrypted > 0) continue;
      }
      const int more = ReceiveMore(deadline, stop);
      if (more < 0) return -1;
      if (more == 0) return 0;
    }
  }

  void Close() override {
    if (!haveContext_ || Failure() != TlsFailure::kNone || closed_) return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&context_, &controlDescription) != SEC_E_OK) return;
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &out};
    DWORD flags = 0;
    InitializeSecurityContextW(&credentials_, &context_, nullptr, kContextFlags, 0, 0, nullptr, 0,
                               nullptr, &outDescription, &flags, nullptr);
    if (out.pvBuffer != nullptr) {
      // One attempt without waiting; the connection closes right after.
      int error = 0;
      tcp::SendSome(socket_, static_cast<const char*>(out.pvBuffer), out.cbBuffer, error);
      FreeContextBuffer(out.pvBuffer);
    }
  }

  TlsSessionInfo Session() const override {
    TlsSessionInfo info;
    SecPkgContext_ConnectionInfo connection{};
    auto* context = const_cast<CtxtHandle*>(&context_);
    if (QueryContextAttributesW(context, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK) {
      switch (connection.dwProtocol) {
        case SP_PROT_TLS1_3_CLIENT: info.version = "TLSv1.3"; break;
        case SP_PROT_TLS1_2_CLIENT: info.version = "TLSv1.2"; break;
        case SP_PROT_TLS1_1_CLIENT: info.version = "TLSv1.1"; break;
        case SP_PROT_TLS1_0_CLIENT: info.version = "TLSv1"; break;
        default: info.version = StatusText("protocol", static_cast<long>(connection.dwProtocol));
      }
      info.cipher = StatusText("cipher", static_cast<long>(connection.aiCipher)).substr(8);
    }
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (QueryContextAttributesW(context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK &&
        cipher.szCipherSuite[0] != 0) {
      info.cipher = Narrow(cipher.szCipherSuite);
    }
    return info;
  }

 private:
  // The handshake messages, continued from what received_ holds; after a
  // session's start (`resumed`) the first call takes only what is there.
  bool Negotiate(Clock::time_point deadline, const std::stop_token& stop, bool resumed = false) {
    const std::wstring target = Widen(name_);
    // Schannel sends the target as SNI; an address is no name to send.
    wchar_t* targetName = IsAddressLiteral(name_) ? nullptr : const_cast<wchar_t*>(target.c_str());
    bool first = !haveContext_;
    bool needMore = false;
    for (;;) {
      if (!first && !resumed && (received_.empty() || needMore)) {
        const int more = ReceiveMore(deadline, stop);
        if (more < 0) return false;
        if (more == 0) return Fail(TlsFailure::kHandshake, ECONNRESET, "the peer closed the connection");
      }
      SecBuffer in[2] = {{static_cast<unsigned long>(received_.size()), SECBUFFER_TOKEN, received_.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
      SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &out};
      DWORD flags = 0;
      const SECURITY_STATUS status = InitializeSecurityContextW(
          &credentials_, first ? nullptr : &context_, targetName, kContextFlags, 0, 0,
          first ? nullptr : &inDescription, 0, first ? &context_ : nullptr, &outDescription,
          &flags, nullptr);
      if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) haveContext_ = true;
      first = false;
      resumed = false;
      if (out.pvBuffer != nullptr) {
        const bool sent = out.cbBuffer == 0 ||
                          SendAll(std::string_view(static_cast<const char*>(out.pvBuffer), out.cbBuffer),
                                  deadline, stop);
        FreeContextBuffer(out.pvBuffer);
        if (!sent) return false;
      }
      needMore = status == SEC_E_INCOMPLETE_MESSAGE;
      if (needMore) continue;
      if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED ||
          status == SEC_I_INCOMPLETE_CREDENTIALS) {
        // What follows the handshake's last message stays for later reads.
        KeepExtra(in[1]);
        if (status == SEC_E_OK) return true;
        continue;
      }
      return Fail(TlsFailure::kHandshake, EPROTO, StatusText("handshake", status));
    }
  }

  void KeepExtra(const SecBuffer& extra) {
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0) {
      received_.erase(0, received_.size() - extra.cbBuffer);
    } else {
      received_.clear();
    }
  }

  bool CheckCertificate() {
    PCCERT_CONTEXT remote = nullptr;
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK ||
        remote == nullptr) {
      return Fail(TlsFailure::kCertificate, EPROTO, "the server sent no certificate");
    }
    HCERTSTORE additional = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    CertAddStoreToCollection(additional, remote->hCertStore, 0, 0);
    if (extraStore_ != nullptr) CertAddStoreToCollection(additional, extraStore_, 0, 0);
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    const bool built =
        CertGetCertificateChain(nullptr, remote, nullptr, additional, &chainPara, 0, nullptr, &chain);
    bool ok = built ? Verify(chain, remote) : Fail(TlsFailure::kCertificate, EPROTO, "no chain could be built");
    if (chain != nullptr) CertFreeCertificateChain(chain);
    CertCloseStore(additional, 0);
    CertFreeCertificateContext(remote);
    return ok;
  }

  bool Verify(PCCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT leaf) {
    // A chain that reaches no root ends at no trusted certificate; not every
    // system's SSL policy says so itself (Wine's accepts it).
    if ((chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0) {
      return Fail(TlsFailure::kUnknownIssuer, EPROTO,
                  StatusText("certificate", static_cast<long>(CERT_E_CHAINING)));
    }
    const std::wstring name = Widen(name_);
    DWORD checked = 0;
    if (IsAddressLiteral(name_)) {
      if (!CertificateNamesAddress(leaf, name_)) {
        return Fail(TlsFailure::kNameMismatch, EPROTO, "the certificate does not name " + name_);
      }
      checked = kIgnoreNameInvalid;
    }
    DWORD error = PolicyError(chain, name, checked);
    if (error == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) && RootInCaFile(chain)) {
      // The chain ends at a certificate the user trusts through the CA
      // file: the system does not know it, every other check still holds.
      error = PolicyError(chain, name, checked | kIgnoreUnknownCa);
    }
    if (error == 0) return true;
    return Fail(FailureOfPolicyError(error), EPROTO, StatusText("certificate", static_cast<long>(error)));
  }

  static DWORD PolicyError(PCCERT_CHAIN_CONTEXT chain, const std::wstring& name, DWORD ignore) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = ignore;
    ssl.pwszServerName = const_cast<wchar_t*>(name.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
      return static_cast<DWORD>(CERT_E_CHAINING);
    }
    return status.dwError;
  }

  bool RootInCaFile(PCCERT_CHAIN_CONTEXT chain) const {
    if (extraStore_ == nullptr || chain->cChain == 0) return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    if (simple->cElement == 0) return false;
    PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    PCCERT_CONTEXT found = CertFindCertificateInStore(extraStore_, X509_ASN_ENCODING, 0,
                                                      CERT_FIND_EXISTING, root, nullptr);
    if (found == nullptr) return false;
    CertFreeCertificateContext(found);
    return true;
  }

  bool ReadStreamSizes() {
    const SECURITY_STATUS status = QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status == SEC_E_OK) return true;
    return Fail(TlsFailure::kHandshake, EPROTO, StatusText("stream sizes", status));
  }

  // Decrypts what received_ holds: 1 when it gave plain text or a message
  // without any, 0 when a record is incomplete, -1 on failure.
  int Decrypt(Clock::time_point deadline, const std::stop_token& stop) {
    SecBuffer buffers[4] = {
        {static_cast<unsigned long>(received_.size()), SECBUFFER_DATA, received_.data()},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return 0;
    if (status == SEC_I_CONTEXT_EXPIRED) {
      closed_ = true;
      received_.clear();
      return 1;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
      Fail(TlsFailure::kConnection, EPROTO, StatusText("decrypt", status));
      return -1;
    }
    const SecBuffer* extra = nullptr;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
        plain_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      }
      if (buffer.BufferType == SECBUFFER_EXTRA) extra = &buffer;
    }
    if (extra != nullptr) {
      KeepExtra(*extra);
    } else {
      received_.clear();
    }
    // Messages after the handshake (TLS 1.3 session tickets, key updates)
    // go back to the handshake machinery.
    if (status == SEC_I_RENEGOTIATE && !Negotiate(deadline, stop, true)) return -1;
    return 1;
  }

  // Some bytes from the socket into received_: their number, 0 when the
  // peer closed, -1 on failure.
  int ReceiveMore(Clock::time_point deadline, const std::stop_token& stop) {
    char chunk[16 * 1024 + 512];
    for (;;) {
      int error = 0;
      const long n = tcp::ReceiveSome(socket_, chunk, sizeof chunk, error);
      if (n > 0) {
        received_.append(chunk, static_cast<std::size_t>(n));
        return static_cast<int>(n);
      }
      if (n == 0) return 0;
      if (error != EAGAIN) {
        Fail(TlsFailure::kConnection, error, "receive failed");
        return -1;
      }
      if (const int rc = tcp::WaitOrStop(socket_, false, deadline, stop); rc != 0) {
        Fail(TlsFailure::kConnection, rc, rc == ETIMEDOUT ? "timed out" : "stopped");
        return -1;
      }
    }
  }

  bool SendAll(std::string_view data, Clock::time_point deadline, const std::stop_token& stop) {
    while (!data.empty()) {
      int error = 0;
      const long n = tcp::SendSome(socket_, data.data(), data.size(), error);
      if (n > 0) {
        data.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && error == EAGAIN) {
        if (const int rc = tcp::WaitOrStop(socket_, true, deadline, stop); rc != 0) {
          return Fail(TlsFailure::kConnection, rc, rc == ETIMEDOUT ? "timed out" : "stopped");
        }
        continue;
      }
      return Fail(TlsFailure::kConnection, n < 0 ? error : EIO, "send failed");
    }
    return true;
  }

  int socket_;
  TlsPeer peer_;
  std::string name_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  HCERTSTORE extraStore_ = nullptr;
  SecPkgContext_StreamSizes sizes_{};
  std::string received_;  // encrypted bytes not yet used
  std::string plain_;     // decrypted bytes not yet returned
  bool closed_ = false;   // the peer ended the session
};

}  // namespace

std::unique_ptr<TlsStream> MakeTlsStream(int socket, TlsPeer peer) {
  return std::make_unique<SchannelStream>(socket, std::move(peer));
}

}  // namespace sentrel
