// The failure numbers this transport reports: those of the platform's internet layer, so both
// systems report alike.
#pragma once

#include "platform/http_transport.h"

namespace zemuser::platform::http {

constexpr ErrorCode kInvalidHandle = 6;
constexpr ErrorCode kNotEnoughMemory = 8;
constexpr ErrorCode kInvalidParameter = 87;
constexpr ErrorCode kTimeout = 12002;
constexpr ErrorCode kInternalError = 12004;
constexpr ErrorCode kInvalidUrl = 12005;
constexpr ErrorCode kNameNotResolved = 12007;
constexpr ErrorCode kCancelled = 12017;
constexpr ErrorCode kIncorrectState = 12019;
constexpr ErrorCode kCannotConnect = 12029;
constexpr ErrorCode kConnectionAborted = 12030;
constexpr ErrorCode kConnectionReset = 12031;
constexpr ErrorCode kClientCertificateNeeded = 12044;
constexpr ErrorCode kUnknownAuthority = 12045;
constexpr ErrorCode kHeaderNotFound = 12150;
constexpr ErrorCode kInvalidServerResponse = 12152;
constexpr ErrorCode kInvalidHeader = 12153;
constexpr ErrorCode kHeaderExists = 12155;
constexpr ErrorCode kRedirectFailed = 12156;
constexpr ErrorCode kRedirectNeedsConfirmation = 12168;
constexpr ErrorCode kSecureFailure = 12175;

}  // namespace zemuser::platform::http
