#include "platform/tls_stream.h"

#include "common/ip_address.h"

namespace sentrel {

std::string UnbracketedName(std::string_view name) {
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  return std::string(name);
}

bool IsAddressLiteral(std::string_view name) {
  return ParseDecimalQuad(name).has_value() || ParseIpv6Text(name).has_value();
}

bool IsCertificateRefusal(TlsFailure failure) {
  switch (failure) {
    case TlsFailure::kCaFile:
    case TlsFailure::kExpired:
    case TlsFailure::kUnknownIssuer:
    case TlsFailure::kNameMismatch:
    case TlsFailure::kCertificate:
      return true;
    default:
      return false;
  }
}

std::string_view TlsFailureName(TlsFailure failure) {
  switch (failure) {
    case TlsFailure::kNone: return "no failure";
    case TlsFailure::kCaFile: return "CA file unreadable";
    case TlsFailure::kExpired: return "certificate expired or not yet valid";
    case TlsFailure::kUnknownIssuer: return "certificate of an unknown issuer";
    case TlsFailure::kNameMismatch: return "certificate for another name";
    case TlsFailure::kCertificate: return "certificate invalid";
    case TlsFailure::kHandshake: return "TLS handshake failed";
    case TlsFailure::kConnection: return "connection failed";
  }
  return "unknown failure";
}

}  // namespace sentrel
