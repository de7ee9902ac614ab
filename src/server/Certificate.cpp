#include "server/ServerOptions.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

namespace snipjar::server {

bool makeSelfSignedCertificate(const std::string& folder, std::string& certificate, std::string& key) {
    ::mkdir(folder.c_str(), 0700);
    certificate = folder + "/server.crt";
    key = folder + "/server.key";
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> x509(X509_new(), X509_free);
    if (!pkey || !x509) {
        std::cerr << "snipjar-server: cannot make a key\n";
        return false;
    }
    unsigned char serial[16];
    RAND_bytes(serial, sizeof(serial));
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof(serial), nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x509.get()));
    BN_free(number);
    X509_set_version(x509.get(), 2);
    X509_gmtime_adj(X509_getm_notBefore(x509.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(x509.get(), pkey.get());
    char host[256] = "localhost";
    ::gethostname(host, sizeof(host) - 1);
    X509_NAME* name = X509_get_subject_name(x509.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(host), -1, -1,
                               0);
    X509_set_issuer_name(x509.get(), name);
    if (X509_sign(x509.get(), pkey.get(), EVP_sha256()) == 0) {
        std::cerr << "snipjar-server: cannot sign the certificate\n";
        return false;
    }
    const mode_t previous = ::umask(077);
    FILE* keyFile = std::fopen(key.c_str(), "w");
    FILE* certFile = std::fopen(certificate.c_str(), "w");
    ::umask(previous);
    const bool written =
        keyFile != nullptr && certFile != nullptr &&
        PEM_write_PrivateKey(keyFile, pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
        PEM_write_X509(certFile, x509.get()) == 1;
    if (keyFile != nullptr) {
        std::fclose(keyFile);
    }
    if (certFile != nullptr) {
        std::fclose(certFile);
    }
    if (!written) {
        std::cerr << "snipjar-server: cannot write into " << folder << '\n';
        return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(x509.get(), EVP_sha256(), digest, &length);
    std::cout << "fingerprint (SHA-256) ";
    for (unsigned int i = 0; i < length; ++i) {
        std::printf("%s%02X", i == 0 ? "" : ":", digest[i]);
    }
    std::cout << std::endl;
    return true;
}

} // namespace snipjar::server
