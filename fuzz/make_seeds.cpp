// Writes the seed corpora of the fuzz targets into a folder, one subfolder
// per target. Every archive among them is made here by our own builder; the
// other seeds are small texts in each target's input layout.
//
//   fuzz_make_seeds OUTPUT_FOLDER
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "support/key_encoding.h"
#include "support/signature.h"

namespace {

std::string root;

void write_seed(const std::string& target, const std::string& name, const std::string& bytes) {
    std::string folder = root + "/" + target;
    mkdir(folder.c_str(), 0755);
    std::string path = folder + "/" + name;
    if (!fuzz_write_file(path, bytes.data(), bytes.size())) {
        fuzz_fail("cannot write %s", path.c_str());
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string pack_to_bytes(const std::vector<MemoryEntry>& entries) {
    static const std::string path = fuzz_temp_path("seed.epk");
    std::string error;
    if (!fuzz_pack(entries, path, &error)) {
        fuzz_fail("cannot pack a seed archive: %s", error.c_str());
    }
    return read_file(path);
}

std::string repeated(const std::string& piece, size_t size) {
    std::string out;
    while (out.size() < size) {
        out += piece;
        out += char('a' + out.size() % 23);
    }
    out.resize(size);
    return out;
}

const std::string INFO_INSTALLED = "identifer=Tessavane\r\nversion=1.02\r\nattribute=trial\r\n";
const std::string INFO_PATCH = "identifer=Tessavane\r\nversion=1.10\r\nattribute=trial\r\n";
const std::string CONFIG =
    "[NoCompression]\r\n*.ogg\r\n/_extract/*.txt\r\n[Other]\r\n*.png;*.bmp\r\n";

void archive_seeds() {
    std::vector<std::vector<MemoryEntry>> trees = {
        {},
        {{"/info.txt", INFO_INSTALLED, false}},
        {{"/info.txt", INFO_PATCH, false},
         {"/_config.txt", CONFIG, false},
         {"/_extract", "", true},
         {"/_extract/readme.txt", "Read me.\r\n", false},
         {"/_extract/sub", "", true},
         {"/_extract/sub/config.ini", "[game]\r\nwindow=1\r\n", false},
         {"/bgm", "", true},
         {"/bgm/title.ogg", repeated("OggS", 700), false},
         {"/empty.bin", "", false}},
        {{"/data", "", true},
         {"/data/a", "", true},
         {"/data/a/b", "", true},
         {"/data/a/b/deep.txt", "deep", false},
         {"/data/a/same", "a file", false},
         {"/data/a/same", "", true},
         {"/data/big.bin", repeated("0123456789", 3000), false},
         {"/data/\x91\xE5\x82\xAB\x82\xA2.txt", "cp932 name", false},
         {"/data/x.svnx", "never packed", false},
         {"/tiny", "t", false}},
    };
    for (size_t i = 0; i < trees.size(); ++i) {
        std::string archive = pack_to_bytes(trees[i]);
        write_seed("archive", "built" + std::to_string(i) + ".epk", archive);
        // The reserved byte at offset 6 picks the target's extra routes.
        for (char routes : {1, 2, 3}) {
            std::string variant = archive;
            variant[6] = routes;
            write_seed("archive",
                       "built" + std::to_string(i) + "-route" + std::to_string(routes) + ".epk",
                       variant);
        }
    }
}

void info_seeds() {
    const std::string split("\0\0", 2);
    struct Case {
        const char* name;
        char flags;
        std::string installed, patch;
    };
    std::vector<Case> cases = {
        {"update", 1, INFO_INSTALLED, INFO_PATCH},
        {"same", 1, INFO_PATCH, INFO_PATCH},
        {"kinds", 1, INFO_INSTALLED, "version=2\r\nattribute=full\r\n"},
        {"lf-only", 1, "version=1\nattribute=trial\n", INFO_PATCH},
        {"blanks", 0, "version = 1\r\n=v\r\nkey=\r\na=b=c\r\n", "version=1e1\r\n"},
        {"numbers", 0, "version= +1.5e-3x\r\n", "version=.5\r\nversion=-0\r\n"},
        {"cr", 0, "vers\rion=3\r\nattribute=a\rb\r\n", "\r"},
        {"missing-installed", 3, INFO_INSTALLED, INFO_PATCH},
        {"missing-patch", 5, INFO_INSTALLED, INFO_PATCH},
        {"long", 1, "version=" + std::string(300, '9') + "\r\n", INFO_PATCH},
    };
    for (const Case& c : cases) {
        write_seed("info", c.name, std::string(1, c.flags) + c.installed + split + c.patch);
    }
}

void rules_seeds() {
    const std::string split("\0\0", 2);
    auto paths = [](std::vector<std::string> list) {
        std::string out;
        for (size_t i = 0; i < list.size(); ++i) {
            out += (i ? std::string(1, '\0') : std::string()) + list[i];
        }
        return out;
    };
    std::string common = paths({"/bgm/title.ogg", "/_extract/readme.txt", "/info.txt",
                                "/data/IMAGE.PNG", "/data/\x95\x5C.txt", "/a.b/c"});
    write_seed("rules", "typical", CONFIG + split + common);
    write_seed("rules", "lf-only", "[NoCompression]\n*.ogg\n" + split + common);
    write_seed("rules", "blank-header", "[NoCompression] \r\n*.ogg\r\n" + split + common);
    write_seed("rules", "every", "[NoCompression]\r\n*.*\r\n\r\n ;*\r\n" + split + common);
    write_seed("rules", "stars",
               "[NoCompression]\r\n*a*a*a*a*a*b\r\n?\?/*\r\n" + split +
                   paths({std::string(200, 'a'), "/x/y"}));
}

void text_seeds() {
    std::vector<std::string> texts = {
        "ab\r\ncd",
        "ab\ncd\r\n",
        "a\rb\r\n",
        "abcdef\r\n",
        "key=value=rest\r\n=v\r\nkey=\r\n",
        "dir\\sub/file.txt",
        "a.b/c.tar.gz",
        "\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80\xC3",
        "\x83\x5C\\\x83\x5C/x\x81",
        std::string("nul\0inside\r\n", 13),
    };
    for (size_t i = 0; i < texts.size(); ++i) {
        write_seed("text", "text" + std::to_string(i), texts[i]);
    }
}

void roundtrip_seeds() {
    // The trees are drawn from the input bytes; texts and archives give the
    // fuzzer varied material to start from.
    std::vector<std::string> inputs = {
        std::string(64, '\x01'),
        "tree:" + INFO_PATCH + CONFIG,
        pack_to_bytes({{"/info.txt", INFO_INSTALLED, false}, {"/dir", "", true}}),
    };
    std::string mixed;
    for (int i = 0; i < 256; ++i) {
        mixed += char(i * 37 + 11);
    }
    inputs.push_back(mixed);
    // A long one, so that inputs describing bigger trees are tried from the
    // start.
    std::string long_input;
    uint32_t state = 12345;
    for (int i = 0; i < 4096; ++i) {
        state = state * 1103515245u + 12345u;
        long_input += char(state >> 24);
    }
    inputs.push_back(long_input);
    for (size_t i = 0; i < inputs.size(); ++i) {
        write_seed("roundtrip", "seed" + std::to_string(i), inputs[i]);
    }
}

// Route byte, then a public or private key text, a DER signature, base64 or
// a signature file (see fuzz_signature.cpp); the keys and signatures are
// made by the library itself.
void signature_seeds() {
    std::string private_pem, public_pem;
    if (!signature_generate_key(&private_pem, &public_pem).ok()) {
        fuzz_fail("no key pair could be made");
    }
    SignatureDigest digest;
    signature_digest("seed", 4, &digest);
    std::vector<uint8_t> der;
    if (!signature_sign_digest(private_pem, digest, &der).ok()) {
        fuzz_fail("the seed key does not sign");
    }
    const std::string signature(der.begin(), der.end());
    P256PrivateKey key;
    p256_private_key_from_pem(private_pem, &key, nullptr);
    Bytes pkcs8 = p256_private_key_to_der(key);
    write_seed("signature", "public", "\x00" + public_pem);
    write_seed("signature", "public-crlf", "\x00note\r\n" + public_pem);
    write_seed("signature", "private", "\x01" + private_pem);
    write_seed("signature", "private-sec1",
               "\x01" + pem_encode("EC PRIVATE KEY", Bytes(pkcs8.begin() + 29, pkcs8.end())));
    write_seed("signature", "der", "\x02" + signature);
    write_seed("signature", "base64", "\x03" + base64_encode(der.data(), der.size()));
    write_seed("signature", "file", "\x04" + signature);
    write_seed("signature", "file-large", "\x04" + std::string(1100, '\x30'));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    root = argv[1];
    mkdir(root.c_str(), 0755);
    fuzz_quiet_messages();
    archive_seeds();
    info_seeds();
    rules_seeds();
    text_seeds();
    roundtrip_seeds();
    signature_seeds();
    return 0;
}
