// "epk2 keygen", "epk2 sign" and "epk2 verify --public-key", and the same
// keys and signatures passed to and from the openssl command where it is
// installed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/key_encoding.h"
#include "support/test_support.h"
#include "tools/tool_test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using namespace tooltest;

class SigningTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string tree = join(temp_.path(), "tree");
        make_folder(tree);
        write_tree_file(tree, "info.txt",
                        "identifer=Tessavane\r\nversion=1.1\r\nattribute=full\r\n");
        write_tree_file(tree, "data/a.txt", make_bytes(5000, 3));
        archive = join(temp_.path(), "Patch.dat");
        signature = join(temp_.path(), "Patch.sig");
        ASSERT_EQ(run_tool({"pack", tree, "-o", archive}).status, 0);
    }
    std::string at(const std::string& name) const { return join(temp_.path(), name); }

    TempDir temp_;
    std::string archive, signature;
};

TEST_F(SigningTest, KeygenWritesAPairAndNeverReplacesOne) {
    ToolRun made = run_tool({"keygen", at("publisher")});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string key = read_file(at("publisher.key"));
    const std::string pub = read_file(at("publisher.pub"));
    P256PrivateKey parsed;
    ASSERT_TRUE(p256_private_key_from_pem(key, &parsed, nullptr)) << key;
    EXPECT_EQ(p256_public_key_to_pem(parsed.public_key), pub);
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(stat(at("publisher.key").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
    // Either file there: nothing written, nothing replaced.
    ToolRun again = run_tool({"keygen", at("publisher")});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("publisher.key already exists"), std::string::npos) << again.err;
    EXPECT_EQ(read_file(at("publisher.key")), key);
    write_file(at("lone.pub"), "mine");
    EXPECT_EQ(run_tool({"keygen", at("lone")}).status, 2);
    EXPECT_FALSE(path_exists(at("lone.key")));
    EXPECT_EQ(read_file(at("lone.pub")), "mine");
}

TEST_F(SigningTest, SignThenVerifyAndEveryChangedByteIsCaught) {
    ASSERT_EQ(run_tool({"keygen", at("publisher")}).status, 0);
    ToolRun signed_ = run_tool({"sign", archive, "--key", at("publisher.key")});
    ASSERT_EQ(signed_.status, 0) << signed_.err;
    ASSERT_TRUE(path_exists(signature));
    ToolRun good = run_tool({"verify", archive, "--public-key", at("publisher.pub")});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_NE(good.out.find("signed by the publisher"), std::string::npos) << good.out;

    // Re-signing replaces the signature; another key's does not verify.
    ASSERT_EQ(run_tool({"keygen", at("other")}).status, 0);
    ASSERT_EQ(run_tool({"sign", archive, "--key", at("other.key")}).status, 0);
    ToolRun other = run_tool({"verify", archive, "--public-key", at("publisher.pub")});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("Patch.sig: not the publisher's signature"), std::string::npos)
        << other.err;

    ASSERT_EQ(run_tool({"sign", archive, "--key", at("publisher.key")}).status, 0);
    const std::string bytes = read_file(archive);
    for (size_t at_byte : {size_t(40), bytes.size() / 2, bytes.size() - 1}) {
        std::string changed = bytes;
        changed[at_byte] ^= 0x01;
        write_file(archive, changed);
        EXPECT_EQ(run_tool({"verify", archive, "--public-key", at("publisher.pub")}).status, 1)
            << "byte " << at_byte;
    }
    // Usage: no key, or the public key where the private one belongs.
    EXPECT_EQ(run_tool({"sign", archive}).status, 2);
    ToolRun wrong = run_tool({"sign", archive, "--key", at("publisher.pub")});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("publisher.pub: this is a public key"), std::string::npos)
        << wrong.err;
}

#ifndef _WIN32
// Runs a shell command line quietly; its exit status.
int shell(const std::string& command) {
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return status == -1 ? -1 : WEXITSTATUS(status);
}

std::string shell_word(const std::string& path) {
    return "'" + path + "'";
}
#endif

// The command lines of the help texts: each side checks what the other made.
TEST_F(SigningTest, OpenSslChecksOurSignaturesAndWeCheckItsOwn) {
#ifdef _WIN32
    GTEST_SKIP() << "the openssl command runs in the Linux build's tests";
#else
    if (shell("openssl version") != 0) {
        GTEST_SKIP() << "no openssl command on this machine";
    }
    ASSERT_EQ(run_tool({"keygen", at("ours")}).status, 0);
    ASSERT_EQ(run_tool({"sign", archive, "--key", at("ours.key")}).status, 0);
    EXPECT_EQ(shell("openssl dgst -sha256 -verify " + shell_word(at("ours.pub")) + " -signature " +
                    shell_word(signature) + " " + shell_word(archive)),
              0);
    // OpenSSL reads our private key and makes the same public key of it.
    EXPECT_EQ(shell("openssl pkey -in " + shell_word(at("ours.key")) + " -pubout -out " +
                    shell_word(at("derived.pub"))),
              0);
    EXPECT_EQ(read_file(at("derived.pub")), read_file(at("ours.pub")));

    const struct {
        const char* name;
        std::string make_key;
    } theirs[] = {
        {"genpkey (PKCS#8)",
         "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " +
             shell_word(at("theirs.key"))},
        {"ecparam (SEC1 after EC PARAMETERS)",
         "openssl ecparam -name prime256v1 -genkey -out " + shell_word(at("theirs.key"))},
    };
    for (const auto& c : theirs) {
        std::remove(at("theirs.key").c_str());
        ASSERT_EQ(shell(c.make_key), 0) << c.name;
        ASSERT_EQ(shell("openssl pkey -in " + shell_word(at("theirs.key")) + " -pubout -out " +
                        shell_word(at("theirs.pub"))),
                  0);
        ASSERT_EQ(shell("openssl dgst -sha256 -sign " + shell_word(at("theirs.key")) + " -out " +
                        shell_word(signature) + " " + shell_word(archive)),
                  0);
        ToolRun verified = run_tool({"verify", archive, "--public-key", at("theirs.pub")});
        EXPECT_EQ(verified.status, 0) << c.name << ": " << verified.err;
        // Our signature with their key, checked by them.
        ASSERT_EQ(run_tool({"sign", archive, "--key", at("theirs.key")}).status, 0) << c.name;
        EXPECT_EQ(shell("openssl dgst -sha256 -verify " + shell_word(at("theirs.pub")) +
                        " -signature " + shell_word(signature) + " " + shell_word(archive)),
                  0)
            << c.name;
    }
#endif
}

} // namespace
