#include "tls_material.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>

#include "support/temp_dir.h"

namespace skiv::server {
namespace {

X509* Load(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return nullptr;
    X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    return cert;
}

// True when `leaf` chains to `ca` for TLS server use.
bool Verifies(X509* ca, X509* leaf) {
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, ca);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, store, leaf, nullptr);
    X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER);
    bool ok = X509_verify_cert(ctx) == 1;
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(store);
    return ok;
}

TEST(TlsMaterialTest, MakesACaAndAServerCertificateForLoopback) {
    skiv::test::TempDir dir;
    TlsFiles files = EnsureTlsMaterial(dir / "tls", {});
    EXPECT_TRUE(files.created);
    EXPECT_EQ(files.caFile, dir / "tls/ca.pem");
    X509* ca = Load(files.caFile);
    X509* leaf = Load(files.certFile);
    ASSERT_TRUE(ca && leaf);
    EXPECT_TRUE(Verifies(ca, leaf));
    EXPECT_EQ(X509_check_host(leaf, "localhost", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ip_asc(leaf, "127.0.0.1", 0), 1);
    EXPECT_NE(X509_check_host(leaf, "example.org", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ca(leaf), 0);
    struct stat st;
    ASSERT_EQ(::stat(files.keyFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the private key must not be readable by others";
    EXPECT_NE(::stat((dir / "tls/ca-key.pem").c_str(), &st), 0) << "the CA key is not kept";

    // The CA's name constraint admits the hosts it signed and nothing else.
    auto* nc = static_cast<NAME_CONSTRAINTS*>(
        X509_get_ext_d2i(ca, NID_name_constraints, nullptr, nullptr));
    ASSERT_TRUE(nc);
    EXPECT_EQ(NAME_CONSTRAINTS_check(leaf, nc), X509_V_OK);
    X509* other = X509_new();
    GENERAL_NAMES* names = GENERAL_NAMES_new();
    GENERAL_NAME* name = a2i_GENERAL_NAME(nullptr, nullptr, nullptr, GEN_DNS, "bank.example", 0);
    sk_GENERAL_NAME_push(names, name);
    X509_add1_ext_i2d(other, NID_subject_alt_name, names, 0, 0);
    X509_check_purpose(other, -1, 0);  // reads the extensions the check looks at
    EXPECT_EQ(NAME_CONSTRAINTS_check(other, nc), X509_V_ERR_PERMITTED_VIOLATION);
    GENERAL_NAMES_free(names);
    X509_free(other);
    NAME_CONSTRAINTS_free(nc);
    X509_free(ca);
    X509_free(leaf);
}

TEST(TlsMaterialTest, ReusesWhatFitsAndMakesANewSetForANewHost) {
    skiv::test::TempDir dir;
    EnsureTlsMaterial(dir / "tls", {});
    const std::string ca = skiv::test::ReadFile(dir / "tls/ca.pem");
    const std::string leaf = skiv::test::ReadFile(dir / "tls/server.pem");

    // A CA key an earlier version kept goes; the rest is reused.
    skiv::test::WriteFile(dir / "tls/ca-key.pem", "old key");
    EXPECT_FALSE(EnsureTlsMaterial(dir / "tls", {"127.0.0.1"}).created);
    EXPECT_EQ(skiv::test::ReadFile(dir / "tls/server.pem"), leaf);
    EXPECT_THROW(skiv::test::ReadFile(dir / "tls/ca-key.pem"), std::runtime_error);

    // The CA cannot sign again, so a new host brings a new CA.
    TlsFiles renewed = EnsureTlsMaterial(dir / "tls", {"addons.guild.test"});
    EXPECT_TRUE(renewed.created);
    EXPECT_NE(skiv::test::ReadFile(dir / "tls/ca.pem"), ca);
    X509* caCert = Load(renewed.caFile);
    X509* leafCert = Load(renewed.certFile);
    ASSERT_TRUE(caCert && leafCert);
    EXPECT_TRUE(Verifies(caCert, leafCert));
    EXPECT_EQ(X509_check_host(leafCert, "addons.guild.test", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_host(leafCert, "localhost", 0, 0, nullptr), 1);
    X509_free(caCert);
    X509_free(leafCert);
}

}  // namespace
}  // namespace skiv::server
