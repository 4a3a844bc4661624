#include "tls_material.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace skiv::server {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

[[noreturn]] void Fail(const std::string& what) {
    unsigned long e = ERR_get_error();
    char buf[256] = "";
    if (e)
        ERR_error_string_n(e, buf, sizeof buf);
    throw std::runtime_error("TLS set-up: " + what + (e ? std::string(": ") + buf : ""));
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

Pkey NewKey() {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key)
        Fail("key generation failed");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext)
        Fail("bad certificate extension " + value);
    int ok = X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    if (!ok)
        Fail("cannot add certificate extension");
}

Cert NewCert(EVP_PKEY* key, const std::string& commonName, long days) {
    Cert cert(X509_new());
    if (!cert)
        Fail("X509_new");
    X509_set_version(cert.get(), 2);
    // A random 64-bit positive serial, as browsers expect unique serials.
    BIGNUM* bn = BN_new();
    if (!bn || !BN_rand(bn, 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
        !BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()))) {
        BN_free(bn);
        Fail("serial number");
    }
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * days);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Kelbo Skiv Addon service"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return cert;
}

constexpr const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

bool LooksLikeIp(const std::string& host) {
    if (host.find(':') != std::string::npos)
        return true;  // IPv6
    for (char c : host) {
        if (!((c >= '0' && c <= '9') || c == '.'))
            return false;
    }
    return !host.empty();
}

// Writes PEM through a temporary file and a rename, so a crash never
// leaves half a key behind.
template <typename WriteFn>
void WritePem(const std::string& path, mode_t mode, WriteFn write) {
    std::string tmp = path + ".tmp";
    ::unlink(tmp.c_str());
    mode_t old = ::umask(0077);
    FILE* f = std::fopen(tmp.c_str(), "wx");
    ::umask(old);
    if (!f)
        throw std::runtime_error("cannot write " + tmp + ": " + std::strerror(errno));
    bool ok = write(f) == 1;
    ok = std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || ::chmod(tmp.c_str(), mode) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        Fail("cannot write " + path);
    }
}

Pkey ReadKey(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    Pkey key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    if (!key)
        Fail("cannot parse " + path);
    return key;
}

Cert ReadCert(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    Cert cert(PEM_read_X509(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    if (!cert)
        Fail("cannot parse " + path);
    return cert;
}

// A made certificate is renewed a month before it expires, when it does
// not name a host the service is now reached by, and when it does not
// belong to the key or the CA beside it (a set-up cut short).
bool StillGood(const TlsFiles& files, const std::vector<std::string>& hosts) {
    Cert cert = ReadCert(files.certFile);
    Cert ca = ReadCert(files.caFile);
    Pkey key = ReadKey(files.keyFile);
    if (X509_check_private_key(cert.get(), key.get()) != 1 ||
        X509_verify(cert.get(), X509_get0_pubkey(ca.get())) != 1) {
        ERR_clear_error();
        return false;
    }
    time_t soon = std::time(nullptr) + 30L * 24 * 3600;
    if (X509_cmp_time(X509_get0_notAfter(cert.get()), &soon) <= 0)
        return false;
    for (const auto& host : hosts) {
        if (host.empty())
            continue;
        int ok = LooksLikeIp(host) ? X509_check_ip_asc(cert.get(), host.c_str(), 0)
                                   : X509_check_host(cert.get(), host.c_str(), 0, 0, nullptr);
        if (ok != 1)
            return false;
    }
    return true;
}

// The hosts every server certificate names, then the extra ones.
std::vector<std::string> AllHosts(const std::vector<std::string>& extraHosts) {
    std::vector<std::string> hosts = {"localhost", "127.0.0.1", "::1"};
    for (const auto& host : extraHosts) {
        bool known = host.empty();
        for (const auto& h : hosts)
            known = known || h == host;
        if (!known)
            hosts.push_back(host);
    }
    return hosts;
}

}  // namespace

TlsFiles EnsureTlsMaterial(const std::string& tlsFolder,
                           const std::vector<std::string>& extraHosts) {
    std::string dir = tlsFolder;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + dir + ": " + std::strerror(errno));
    TlsFiles files{dir + "server.pem", dir + "server-key.pem", dir + "ca.pem", false};
    // Earlier versions kept the CA key; it goes whatever happens next.
    const std::string oldCaKey = dir + "ca-key.pem";
    if (::unlink(oldCaKey.c_str()) != 0 && errno != ENOENT)
        throw std::runtime_error("cannot delete " + oldCaKey + ": " + std::strerror(errno));
    if (FileExists(files.certFile) && FileExists(files.keyFile) && FileExists(files.caFile) &&
        StillGood(files, extraHosts))
        return files;

    const std::vector<std::string> hosts = AllHosts(extraHosts);
    std::string san, permitted = "critical";
    for (const auto& host : hosts) {
        const bool ip = LooksLikeIp(host);
        san += (san.empty() ? "" : ",") + std::string(ip ? "IP:" : "DNS:") + host;
        permitted += ",permitted;";
        if (!ip)
            permitted += "DNS:" + host;
        else if (host.find(':') != std::string::npos)
            permitted += "IP:" + host + "/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";
        else
            permitted += "IP:" + host + "/255.255.255.255";
    }

    // The CA lives in this function only; see the header for why.
    Pkey caKey = NewKey();
    // A day past the server certificate, which is all it will ever sign.
    Cert ca = NewCert(caKey.get(), "Kelbo Skiv Addon private CA", 398);
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    AddExtension(ca.get(), ca.get(), NID_name_constraints, permitted);
    if (!X509_sign(ca.get(), caKey.get(), EVP_sha256()))
        Fail("signing the CA");

    Pkey key = NewKey();
    // 397 days: within what browsers accept for a server certificate.
    Cert cert = NewCert(key.get(), "localhost", 397);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(ca.get()));
    AddExtension(cert.get(), ca.get(), NID_subject_alt_name, san);
    AddExtension(cert.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
    AddExtension(cert.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    if (!X509_sign(cert.get(), caKey.get(), EVP_sha256()))
        Fail("signing the server certificate");
    caKey.reset();
    // The CA goes last: until it is replaced, the check above finds the
    // set inconsistent and makes it anew.
    WritePem(files.keyFile, 0600, [&](FILE* f) {
        return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    WritePem(files.certFile, 0644, [&](FILE* f) { return PEM_write_X509(f, cert.get()); });
    WritePem(files.caFile, 0644, [&](FILE* f) { return PEM_write_X509(f, ca.get()); });
    files.created = true;
    return files;
}

void ApplyTlsPolicy(SSL_CTX* ctx) {
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) != 1)
        Fail("cannot set the cipher policy");
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
}

}  // namespace skiv::server
