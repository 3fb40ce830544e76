// Signed patches: with the publisher's public key, the decision and the
// update itself accept only a patch whose signature beside it matches its
// every byte, and the bytes merged are the bytes checked.
#include <gtest/gtest.h>

#include <optional>

#include "cli/cli.h"
#include "platform/platform.h"
#include "support/signature.h"
#include "update/patch_signature.h"
#include "update/update_texts.h"
#include "update/updater_test_support.h"

namespace {

struct KeyPair {
    std::string private_pem, public_pem;
};

const KeyPair& publisher() {
    static const KeyPair pair = [] {
        KeyPair made;
        EXPECT_TRUE(signature_generate_key(&made.private_pem, &made.public_pem).ok());
        return made;
    }();
    return pair;
}

const KeyPair& stranger() {
    static const KeyPair pair = [] {
        KeyPair made;
        EXPECT_TRUE(signature_generate_key(&made.private_pem, &made.public_pem).ok());
        return made;
    }();
    return pair;
}

std::string signature_of(const std::string& file, const KeyPair& key) {
    std::string bytes = read_file(file);
    SignatureDigest digest;
    EXPECT_TRUE(signature_digest(bytes.data(), bytes.size(), &digest));
    std::vector<uint8_t> der;
    EXPECT_TRUE(signature_sign_digest(key.private_pem, digest, &der).ok());
    return std::string(der.begin(), der.end());
}

const char P384_PUB[] = "-----BEGIN PUBLIC KEY-----\n"
                        "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAE98KmqiBk7eV+MltB2NfzJyt4VlmSgGe9\n"
                        "5yp/wKKM1Ftr658KUXRJ7yd3BbhcerojWspUe+eUYLtZ4bj1nLZ1ZTZuCKjMr0Hs\n"
                        "Zowav8K5KZi4u4YCrRMxTREOUTlZaRYv\n"
                        "-----END PUBLIC KEY-----\n";

class SignedUpdateTest : public ::testing::Test, public UpdateFixture {
  protected:
    void SetUp() override {
        pack_tree({{"info.txt", info_txt("1.0", "full")}, {"b.txt", "old b"}}, data());
        pack_patch("1.1", "full", "new b");
        installed = read_file(data());
    }
    void pack_patch(const char* version, const char* attribute, const char* b) {
        pack_tree({{"info.txt", info_txt(version, attribute)}, {"b.txt", b}}, patch());
    }
    std::string signature_path() const { return patch_signature_path(patch()); }
    void sign(const KeyPair& key = publisher()) {
        write_file(signature_path(), signature_of(patch(), key));
    }
    RecordingView keyed(const std::string& key = publisher().public_pem) const {
        RecordingView v = view();
        v.public_key = key;
        return v;
    }
    // The install folder as it was: the data archive's bytes and no file of
    // an update left behind.
    void expect_untouched(const std::string& label) const {
        EXPECT_EQ(read_file(data()), installed) << label;
        EXPECT_FALSE(path_exists(intermediate())) << label;
        EXPECT_FALSE(path_exists(join(install(), "Tessavane.lock"))) << label;
    }
    // "epk2 WORDS..." with its output kept.
    int tool(std::vector<std::string> words) { return run_epk2(std::move(words), out, err); }
    std::string installed, out, err;
};

// The decision table's rows with and without a key: the signature is looked
// at only where the patch could otherwise be applied.
TEST_F(SignedUpdateTest, DecisionTableWithAndWithoutAKey) {
    enum Signed { NONE, GOOD, OTHER_KEY, TAMPERED, GARBAGE };
    const struct {
        const char* name;
        const char* version;
        const char* attribute;
        bool key;
        Signed signature;
        const char* status;
        bool enabled;
    } rows[] = {
        {"signed", "1.1", "full", true, GOOD, TEXT_UPDATE_POSSIBLE, true},
        {"unsigned", "1.1", "full", true, NONE, TEXT_SIGNATURE_UNVERIFIED, false},
        {"signed by another key", "1.1", "full", true, OTHER_KEY, TEXT_SIGNATURE_UNVERIFIED, false},
        {"changed after signing", "1.1", "full", true, TAMPERED, TEXT_SIGNATURE_UNVERIFIED, false},
        {"no key, unsigned", "1.1", "full", false, NONE, TEXT_UPDATE_POSSIBLE, true},
        {"no key, garbage signature", "1.1", "full", false, GARBAGE, TEXT_UPDATE_POSSIBLE, true},
        {"other kind, unsigned", "1.1", "trial", true, NONE, TEXT_KIND_DIFFERS, false},
        {"not newer, unsigned", "1.0", "full", true, NONE, TEXT_NO_UPDATE_NEEDED, true},
    };
    for (const auto& row : rows) {
        pack_patch(row.version, row.attribute, "new b");
        platform_file_delete(signature_path().c_str());
        if (row.signature == GOOD || row.signature == TAMPERED) {
            sign();
        } else if (row.signature == OTHER_KEY) {
            sign(stranger());
        } else if (row.signature == GARBAGE) {
            write_file(signature_path(), "no signature");
        }
        if (row.signature == TAMPERED) {
            pack_patch(row.version, row.attribute, "new B"); // one byte of content changed
        }
        RecordingView v = keyed(row.key ? publisher().public_pem : "");
        refresh_versions(&v);
        EXPECT_EQ(v.status(), row.status) << row.name;
        EXPECT_EQ(v.enabled, row.enabled) << row.name;
        if (std::string(row.status) == TEXT_SIGNATURE_UNVERIFIED) {
            // Even a command that reaches the update applies nothing.
            EXPECT_FALSE(run_update(&v, quiet_steps())) << row.name;
            EXPECT_EQ(v.status(), TEXT_SIGNATURE_UNVERIFIED) << row.name;
            EXPECT_FALSE(v.enabled) << row.name;
            expect_untouched(row.name);
        }
    }
}

// The update checks again, over the file it merges from: a patch replaced
// after the dialog's check is refused.
TEST_F(SignedUpdateTest, PatchReplacedAfterTheCheckIsRefused) {
    sign();
    RecordingView v = keyed();
    refresh_versions(&v);
    ASSERT_EQ(v.status(), TEXT_UPDATE_POSSIBLE);
    pack_patch("1.1", "full", "planted b");
    EXPECT_FALSE(run_update(&v, quiet_steps()));
    EXPECT_EQ(v.status(), TEXT_SIGNATURE_UNVERIFIED);
    ASSERT_FALSE(v.details.empty());
    EXPECT_NE(v.details.back().find(signature_path()), std::string::npos) << v.details.back();
    expect_untouched("replaced patch");
}

std::string swap_source;
bool swapped = false;

// Writes another archive of the same size into the patch, in place.
void swap_patch(const char* patch_path) {
    const std::string bytes = read_file(swap_source);
    PlatformFile file =
        platform_file_open(patch_path, PLATFORM_ACCESS_WRITE, PLATFORM_OPEN_EXISTING);
    swapped = platform_file_write_at(file, 0, bytes.data(), uint32_t(bytes.size())) == bytes.size();
    platform_file_close(file);
}

// Between the update's check and its merge another process rewrites the
// patch in place. Windows refuses it (the open patch denies writers);
// elsewhere it happens, and the merge still reads the checked bytes.
TEST_F(SignedUpdateTest, MergeReadsTheBytesThatWereChecked) {
    sign();
    swap_source = join(root(), "planted.dat");
    pack_tree({{"info.txt", info_txt("1.1", "full")}, {"b.txt", "bad b"}}, swap_source);
    ASSERT_EQ(read_file(swap_source).size(), read_file(patch()).size());
    swapped = false;
    UpdateSteps steps = quiet_steps();
    steps.patch_opened = swap_patch;
    RecordingView v = keyed();
    refresh_versions(&v);
    ASSERT_TRUE(run_update(&v, steps)) << (v.details.empty() ? "" : v.details.back());
    EXPECT_EQ(archive_entry(data(), "/b.txt"), "new b");
#ifdef _WIN32
    EXPECT_FALSE(swapped);
#else
    EXPECT_TRUE(swapped);
    EXPECT_EQ(archive_entry(patch(), "/b.txt"), "bad b");
#endif
}

// Every bad signature or key: refused with words that name the file, by the
// dialog's logic, by "epk2 update" and by "epk2 verify", the install folder
// untouched and nothing crashing.
TEST_F(SignedUpdateTest, BadSignaturesAndKeysAreRefusedSayingWhy) {
    sign();
    const std::string good = read_file(signature_path());
    std::string flipped = good;
    flipped.back() ^= 1;
    const struct {
        const char* name;
        std::optional<std::string> signature; // nullopt: no signature file
        std::string key;                      // empty: the publisher's
        const char* reason;
        bool names_signature; // else the key file
    } rows[] = {
        {"missing", std::nullopt, "", "missing", true},
        {"empty", std::string(), "", "empty", true},
        {"truncated", good.substr(0, good.size() - 5), "", "cut short", true},
        {"oversized", std::string(2048, '\x30'), "", "larger than 1 KiB", true},
        {"garbage", std::string("#!/bin/sh\nno signature\n"), "", "not a DER ECDSA", true},
        {"tampered", flipped, "", "not the publisher's signature", true},
        {"key of another curve", good, P384_PUB, "P-384", false},
        {"key not PEM", good, "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5", "not a PEM file", false},
        {"private key", good, publisher().private_pem, "private key", false},
    };
    const std::string key_path = join(root(), "publisher.pub");
    for (const auto& row : rows) {
        platform_file_delete(signature_path().c_str());
        if (row.signature) {
            write_file(signature_path(), *row.signature);
        }
        const std::string key = row.key.empty() ? publisher().public_pem : row.key;
        write_file(key_path, key);
        const std::string named = row.names_signature ? signature_path() : key_path;

        RecordingView v = keyed(key);
        refresh_versions(&v);
        EXPECT_EQ(v.status(), TEXT_SIGNATURE_UNVERIFIED) << row.name;
        ASSERT_FALSE(v.details.empty()) << row.name;
        EXPECT_NE(v.details.back().find(row.reason), std::string::npos) << v.details.back();
        EXPECT_NE(v.details.back().find(row.names_signature ? named : "public key"),
                  std::string::npos)
            << v.details.back();
        EXPECT_FALSE(run_update(&v, quiet_steps())) << row.name;
        expect_untouched(row.name);

        EXPECT_EQ(tool({"update", install(), "--patch", patch(), "--public-key", key_path}), 1)
            << row.name << ": " << err;
        EXPECT_NE(out.find(to_console(TEXT_SIGNATURE_UNVERIFIED)), std::string::npos) << out;
        EXPECT_NE(err.find(row.reason), std::string::npos) << row.name << ": " << err;
        EXPECT_NE(err.find(named), std::string::npos) << row.name << ": " << err;
        expect_untouched(row.name);

        EXPECT_EQ(tool({"verify", patch(), "--public-key", key_path}), 1) << row.name;
        EXPECT_NE(err.find(row.reason), std::string::npos) << row.name << ": " << err;
        EXPECT_NE(err.find(named), std::string::npos) << row.name << ": " << err;
    }
}

} // namespace
