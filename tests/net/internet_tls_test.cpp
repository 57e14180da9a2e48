// Certificates: the trust store from the environment, each kind of bad certificate with and
// without the flag that accepts it, and a server that demands a client certificate.
#include <gtest/gtest.h>

#include <string>

#include "net/internet_test_helpers.h"
#include "support/real_servers.h"

namespace {

using internet_testing::Connection;
using internet_testing::InternetHandle;
using internet_testing::ReadBody;
using internet_testing::Send;
using internet_testing::Status;
using testing_support::CertificateKind;
using testing_support::NginxServer;
using testing_support::ScopedEnv;
using testing_support::TestCertificates;

class InternetTlsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        nginx_ = new NginxServer("location = /hello { return 200 \"secure hello\"; }");
    }
    static void TearDownTestSuite() {
        delete nginx_;
        nginx_ = nullptr;
    }

    // Sends a GET for /hello to the port with the open flags; 0 or the send's error.
    static DWORD Fetch(std::uint16_t port, DWORD flags, DWORD securityFlags = 0,
                       std::string* body = nullptr) {
        Connection connection(port);
        InternetHandle request = connection.Open("GET", "/hello", INTERNET_FLAG_SECURE | flags);
        if (securityFlags != 0) {
            DWORD current = 0;
            DWORD length = sizeof current;
            EXPECT_TRUE(InternetQueryOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS,
                                             &current, &length));
            current |= securityFlags;
            EXPECT_TRUE(InternetSetOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &current,
                                           sizeof current));
        }
        if (!Send(request.get())) return GetLastError();
        if (body != nullptr) *body = ReadBody(request.get());
        return 0;
    }

    static NginxServer* nginx_;
    ScopedEnv trust_{"SSL_CERT_FILE", TestCertificates::Get().caFile};
};

NginxServer* InternetTlsTest::nginx_ = nullptr;

TEST_F(InternetTlsTest, TrustedCertificateIsAccepted) {
    std::string body;
    EXPECT_EQ(Fetch(nginx_->httpsPort(CertificateKind::Good), 0, 0, &body), 0u);
    EXPECT_EQ(body, "secure hello");
}

TEST_F(InternetTlsTest, EachBadCertificateFailsUnlessItsFlagAcceptsIt) {
    const std::uint16_t otherName = nginx_->httpsPort(CertificateKind::OtherName);
    EXPECT_EQ(Fetch(otherName, 0), ERROR_INTERNET_SECURE_FAILURE);
    EXPECT_EQ(Fetch(otherName, INTERNET_FLAG_IGNORE_CERT_CN_INVALID), 0u);
    EXPECT_EQ(Fetch(otherName, INTERNET_FLAG_IGNORE_CERT_DATE_INVALID),
              ERROR_INTERNET_SECURE_FAILURE);

    const std::uint16_t expired = nginx_->httpsPort(CertificateKind::Expired);
    EXPECT_EQ(Fetch(expired, 0), ERROR_INTERNET_SECURE_FAILURE);
    EXPECT_EQ(Fetch(expired, INTERNET_FLAG_IGNORE_CERT_DATE_INVALID), 0u);
    EXPECT_EQ(Fetch(expired, INTERNET_FLAG_IGNORE_CERT_CN_INVALID), ERROR_INTERNET_SECURE_FAILURE);

    const std::uint16_t selfSigned = nginx_->httpsPort(CertificateKind::SelfSigned);
    const DWORD engineFlags =
        INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    EXPECT_EQ(Fetch(selfSigned, engineFlags), ERROR_INTERNET_INVALID_CA);
    EXPECT_EQ(Fetch(selfSigned, engineFlags, SECURITY_FLAG_IGNORE_UNKNOWN_CA), 0u);
}

TEST_F(InternetTlsTest, UnknownIssuerIsAcceptedAfterTheFlagOnTheSameHandle) {
    ScopedEnv untrusted("SSL_CERT_FILE", "");  // the system store, which lacks the test CA
    Connection connection(nginx_->httpsPort(CertificateKind::Good));
    InternetHandle request = connection.Open("GET", "/hello", INTERNET_FLAG_SECURE);
    EXPECT_FALSE(Send(request.get()));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INVALID_CA);

    DWORD flags = 0;
    DWORD length = 2;
    EXPECT_FALSE(
        InternetQueryOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 4u);
    ASSERT_TRUE(
        InternetQueryOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &length));
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ASSERT_TRUE(InternetSetOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, 4));
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(ReadBody(request.get()), "secure hello");
}

TEST_F(InternetTlsTest, DemandedClientCertificateIsReported) {
    Connection connection(nginx_->clientCertPort());
    InternetHandle request = connection.Open("GET", "/hello", INTERNET_FLAG_SECURE);
    EXPECT_FALSE(Send(request.get()));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
    // Choosing no certificate (what a cancelled dialog hands over) lets the next send go on
    // without one; the server then refuses in its own way.
    ASSERT_TRUE(
        InternetSetOptionA(request.get(), INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, nullptr, 4));
    if (Send(request.get())) {
        EXPECT_EQ(Status(request.get()), 400);
    } else {
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
    }
}

}  // namespace
