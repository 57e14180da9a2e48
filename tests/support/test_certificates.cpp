// The HTTPS cases' certificates, made with the openssl command once per test process. EC P-256
// keys keep the whole set well under a second.
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/real_servers.h"

namespace testing_support {
namespace {

// One configuration for every step: our own sections, so the system's defaults never add or
// clash with extensions.
const char* const kOpensslConfig = R"(
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca]
default_ca = test_ca
[test_ca]
dir = .
database = ./index.txt
new_certs_dir = ./issued
serial = ./serial
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
[any_name]
commonName = supplied
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[loopback_leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth,clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = IP:127.0.0.1,DNS:localhost
[other_leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth,clientAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:other.example.test
[self_signed]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
)";

// The steps run in the folder; each leaf gets a key and a signing request first.
const char* const kScript = R"(set -e
export OPENSSL_CONF=./openssl.cnf
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }
csr() { key "$1"; openssl req -new -config openssl.cnf -key "$1.key" -subj "/CN=$2" -out "$1.csr"; }
mkdir -p issued
: > index.txt
echo 1000 > serial

key ca
openssl req -x509 -new -config openssl.cnf -key ca.key -subj "/CN=Zemuser Test CA" \
    -days 3650 -extensions ca_ext -out ca.pem

csr good 127.0.0.1
openssl x509 -req -in good.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
    -extfile openssl.cnf -extensions loopback_leaf -out good.pem

csr other other.example.test
openssl x509 -req -in other.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
    -extfile openssl.cnf -extensions other_leaf -out other.pem

# Only the ca command takes explicit dates, and a validity wholly in the past is what we need.
csr expired 127.0.0.1
openssl ca -batch -notext -config openssl.cnf -cert ca.pem -keyfile ca.key -in expired.csr \
    -startdate 20200101000000Z -enddate 20200201000000Z -extensions loopback_leaf \
    -extfile openssl.cnf -out expired.pem

key selfsigned
openssl req -x509 -new -config openssl.cnf -key selfsigned.key -subj "/CN=127.0.0.1" \
    -days 3650 -extensions self_signed -out selfsigned.pem
)";

TestCertificates Make(const std::string& folder) {
    WriteFileBytes(folder + "/openssl.cnf", kOpensslConfig);
    WriteFileBytes(folder + "/make.sh", kScript);
    const std::string command = "cd '" + folder + "' && /bin/sh ./make.sh > make.log 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("making test certificates failed:\n" +
                                 ReadFileBytes(folder + "/make.log"));
    }
    TestCertificates made;
    made.folder = folder;
    made.caFile = folder + "/ca.pem";
    made.goodCert = folder + "/good.pem";
    made.goodKey = folder + "/good.key";
    made.otherNameCert = folder + "/other.pem";
    made.otherNameKey = folder + "/other.key";
    made.expiredCert = folder + "/expired.pem";
    made.expiredKey = folder + "/expired.key";
    made.selfSignedCert = folder + "/selfsigned.pem";
    made.selfSignedKey = folder + "/selfsigned.key";
    return made;
}

}  // namespace

const TestCertificates& TestCertificates::Get() {
    // The folder lives until the process ends; static initialisation makes it once, thread-safe.
    static const TempDir folder;
    static const TestCertificates certificates = Make(folder.path());
    return certificates;
}

}  // namespace testing_support
