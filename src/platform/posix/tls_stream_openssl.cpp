// The TLS stream on OpenSSL 3: a client context per session (sessions are
// rare, one per mail), the system's trusted certificates plus the peer's CA
// file, peer verification always on, and the socket's own non-blocking waits
// so that time-outs and the stop token work as they do in the clear.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>

#include "platform/tcp_socket_calls.h"
#include "platform/tls_stream.h"

namespace sentrel {

namespace {

TlsFailure FailureOfVerifyResult(long result) {
  switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return TlsFailure::kExpired;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return TlsFailure::kUnknownIssuer;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return TlsFailure::kNameMismatch;
    default:
      return TlsFailure::kCertificate;
  }
}

// The library's words for the error at the top of its queue.
std::string LibraryError() {
  const unsigned long code = ERR_peek_last_error();
  if (code == 0) return "no further detail";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

class OpenSslStream final : public TlsStream {
 public:
  OpenSslStream(int socket, TlsPeer peer) : socket_(socket), peer_(std::move(peer)) {}
  ~OpenSslStream() override {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
  }
  OpenSslStream(const OpenSslStream&) = delete;
  OpenSslStream& operator=(const OpenSslStream&) = delete;

  bool Handshake(Clock::time_point deadline, const std::stop_token& stop) override {
    if (!Prepare()) return false;
    for (;;) {
      ERR_clear_error();
      const int rc = SSL_connect(ssl_);
      if (rc == 1) return true;
      const int error = SSL_get_error(ssl_, rc);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        if (!Wait(error == SSL_ERROR_WANT_WRITE, deadline, stop)) return false;
        continue;
      }
      // A refused certificate ends the handshake with a plain protocol
      // error; the verification result says which check failed.
      const long verified = SSL_get_verify_result(ssl_);
      if (verified != X509_V_OK) {
        return Fail(FailureOfVerifyResult(verified), EPROTO,
                    X509_verify_cert_error_string(verified));
      }
      return FailOperation(error, "handshake");
    }
  }

  bool Send(std::string_view data, Clock::time_point deadline,
            const std::stop_token& stop) override {
    while (!data.empty()) {
      ERR_clear_error();
      std::size_t written = 0;
      const int rc = SSL_write_ex(ssl_, data.data(), data.size(), &written);
      if (rc == 1) {
        data.remove_prefix(written);
        continue;
      }
      const int error = SSL_get_error(ssl_, rc);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        if (!Wait(error == SSL_ERROR_WANT_WRITE, deadline, stop)) return false;
        continue;
      }
      return FailOperation(error, "send");
    }
    return true;
  }

  long Receive(char* data, std::size_t size, Clock::time_point deadline,
               const std::stop_token& stop) override {
    for (;;) {
      ERR_clear_error();
      std::size_t read = 0;
      const int rc = SSL_read_ex(ssl_, data, size, &read);
      if (rc == 1) return static_cast<long>(read);
      const int error = SSL_get_error(ssl_, rc);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        if (!Wait(error == SSL_ERROR_WANT_WRITE, deadline, stop)) return -1;
        continue;
      }
      FailOperation(error, "receive");
      return -1;
    }
  }

  void Close() override {
    // One non-blocking attempt: a peer that does not read is no reason to wait.
    if (ssl_ != nullptr && SSL_is_init_finished(ssl_) && Failure() == TlsFailure::kNone) {
      ERR_clear_error();
      SSL_shutdown(ssl_);
    }
  }

  TlsSessionInfo Session() const override {
    if (ssl_ == nullptr) return {};
    const char* cipher = SSL_get_cipher_name(ssl_);
    return {SSL_get_version(ssl_), cipher != nullptr ? cipher : ""};
  }

 private:
  bool Prepare() {
    context_ = SSL_CTX_new(TLS_client_method());
    if (context_ == nullptr) return Fail(TlsFailure::kHandshake, ENOMEM, LibraryError());
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    // A peer that drops the connection without close_notify has still
    // said all it had to say (the SMTP reply tells whether it did).
    SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(context_, SSL_MODE_ENABLE_PARTIAL_WRITE |
                                   SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_default_verify_paths(context_);
    if (!peer_.caFile.empty() &&
        SSL_CTX_load_verify_locations(context_, peer_.caFile.c_str(), nullptr) != 1) {
      return Fail(TlsFailure::kCaFile, ENOENT, peer_.caFile + ": " + LibraryError());
    }

    ssl_ = SSL_new(context_);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, socket_) != 1) {
      return Fail(TlsFailure::kHandshake, ENOMEM, LibraryError());
    }
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const std::string name = UnbracketedName(peer_.serverName);
    if (IsAddressLiteral(name)) {
      // An address is checked against the certificate's IP entries and is
      // never sent as a server name (RFC 6066 allows names only).
      X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
    } else {
      // SSL_set_tlsext_host_name without its C cast.
      SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
               const_cast<char*>(name.c_str()));
      SSL_set1_host(ssl_, name.c_str());
    }
    return true;
  }

  bool Wait(bool forWriting, Clock::time_point deadline, const std::stop_token& stop) {
    const int rc = tcp::WaitOrStop(socket_, forWriting, deadline, stop);
    if (rc == 0) return true;
    return Fail(TlsFailure::kConnection, rc, std::string("waiting for the peer: ") +
                                                 std::strerror(rc));
  }

  bool FailOperation(int error, const char* what) {
    if (error == SSL_ERROR_SYSCALL) {
      const int system = errno != 0 ? errno : ECONNRESET;
      return Fail(TlsFailure::kConnection, system,
                  std::string(what) + ": " + std::strerror(system));
    }
    return Fail(Failure() == TlsFailure::kNone && error == SSL_ERROR_SSL && !SSL_is_init_finished(ssl_)
                    ? TlsFailure::kHandshake
                    : TlsFailure::kConnection,
                EPROTO, std::string(what) + ": " + LibraryError());
  }

  int socket_;
  TlsPeer peer_;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace

std::unique_ptr<TlsStream> MakeTlsStream(int socket, TlsPeer peer) {
  return std::make_unique<OpenSslStream>(socket, std::move(peer));
}

}  // namespace sentrel
