#include "support/key_encoding.h"

#include <cstdio>
#include <cstring>

namespace {

// --- DER -------------------------------------------------------------------

constexpr uint8_t TAG_INTEGER = 0x02;
constexpr uint8_t TAG_BIT_STRING = 0x03;
constexpr uint8_t TAG_OCTET_STRING = 0x04;
constexpr uint8_t TAG_OID = 0x06;
constexpr uint8_t TAG_SEQUENCE = 0x30;
constexpr uint8_t TAG_CONTEXT_0 = 0xA0; // constructed [0]
constexpr uint8_t TAG_CONTEXT_1 = 0xA1; // constructed [1]

// The object identifiers the keys use, in their DER content form.
const Bytes OID_EC_PUBLIC_KEY = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01}; // 1.2.840.10045.2.1
const Bytes OID_PRIME256V1 = {0x2A, 0x86, 0x48, 0xCE,
                              0x3D, 0x03, 0x01, 0x07}; // 1.2.840.10045.3.1.7

struct KnownOid {
    const char* dotted;
    const char* name;
};
const KnownOid KNOWN_OIDS[] = {
    {"1.2.840.113549.1.1.1", "an RSA key"},
    {"1.2.840.10040.4.1", "a DSA key"},
    {"1.3.101.110", "an X25519 key"},
    {"1.3.101.112", "an Ed25519 key"},
    {"1.3.101.113", "an Ed448 key"},
    {"1.3.132.0.34", "curve P-384 (secp384r1"},
    {"1.3.132.0.35", "curve P-521 (secp521r1"},
    {"1.3.132.0.10", "curve secp256k1 ("},
    {"1.2.840.10045.3.1.1", "curve P-192 (prime192v1"},
    {"1.3.132.0.33", "curve P-224 (secp224r1"},
    {"1.3.36.3.3.2.8.1.1.7", "curve brainpoolP256r1 ("},
};

// The dotted form of an OID's content ("1.2.840.10045.3.1.7"); empty when
// the bytes are no OID.
std::string dotted_oid(const Bytes& oid) {
    std::string text;
    uint64_t value = 0;
    bool first = true;
    for (size_t i = 0; i < oid.size(); ++i) {
        if (value == 0 && oid[i] == 0x80) {
            return {}; // a sub-identifier with a leading zero group
        }
        if (value >> 56) {
            return {};
        }
        value = (value << 7) | (oid[i] & 0x7F);
        if (oid[i] & 0x80) {
            continue;
        }
        if (first) {
            uint64_t arc = value < 80 ? value / 40 : 2;
            text.append(std::to_string(arc));
            value -= 40 * arc;
            first = false;
        }
        text.push_back('.');
        text.append(std::to_string(value));
        value = 0;
    }
    return oid.empty() || (oid.back() & 0x80) ? std::string() : text;
}

// "an RSA key (1.2.840.113549.1.1.1)", "curve P-384 (secp384r1,
// 1.3.132.0.34)", or the prefix and the dotted form.
std::string describe_oid(const Bytes& oid, const char* unknown_prefix) {
    std::string dotted = dotted_oid(oid);
    if (dotted.empty()) {
        return std::string(unknown_prefix) + "with a malformed identifier";
    }
    for (const KnownOid& known : KNOWN_OIDS) {
        if (dotted == known.dotted) {
            std::string name = known.name;
            bool open = name.back() == '(';
            bool aliased = name.find('(') != std::string::npos;
            return name + (open ? "" : aliased ? ", " : " (") + dotted + ")";
        }
    }
    return unknown_prefix + dotted;
}

// One level of DER: reads elements one after another from a span.
class DerReader {
  public:
    DerReader() = default;
    DerReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return size_ == 0; }
    // The tag of the next element; 0 at the end.
    uint8_t peek() const { return size_ ? data_[0] : 0; }

    // Reads the next element, which must carry tag; its content goes to
    // content. False, with why, when it is not there or not minimal DER.
    bool read(uint8_t tag, DerReader* content, std::string* why, const char* what) {
        if (size_ == 0) {
            return fail(why, std::string(what) + " is missing");
        }
        if (data_[0] != tag) {
            char found[8];
            std::snprintf(found, sizeof found, "0x%02X", data_[0]);
            return fail(why, std::string(what) + " is missing: another element (tag " + found +
                                 ") is in its place");
        }
        if (size_ < 2) {
            return fail(why, std::string(what) + " is cut short");
        }
        size_t length = data_[1];
        size_t header = 2;
        if (length == 0x81) {
            if (size_ < 3 || data_[2] < 0x80) {
                return fail(why, std::string(what) + " has a malformed length");
            }
            length = data_[2];
            header = 3;
        } else if (length == 0x82) {
            if (size_ < 4 || data_[2] == 0) {
                return fail(why, std::string(what) + " has a malformed length");
            }
            length = size_t(data_[2]) << 8 | data_[3];
            if (length < 0x100) {
                return fail(why, std::string(what) + " has a malformed length");
            }
            header = 4;
        } else if (length >= 0x80) {
            return fail(why, std::string(what) + " has a length no key or signature has");
        }
        if (length > size_ - header) {
            return fail(why, std::string(what) + " is cut short");
        }
        *content = DerReader(data_ + header, length);
        data_ += header + length;
        size_ -= header + length;
        return true;
    }

    Bytes bytes() const { return Bytes(data_, data_ + size_); }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    static bool fail(std::string* why, const std::string& text) {
        if (why) {
            *why = text;
        }
        return false;
    }
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

bool fail(std::string* why, const std::string& text) {
    if (why) {
        *why = text;
    }
    return false;
}

void put_element(Bytes& out, uint8_t tag, const Bytes& content) {
    out.push_back(tag);
    size_t length = content.size();
    if (length < 0x80) {
        out.push_back(uint8_t(length));
    } else if (length < 0x100) {
        out.push_back(0x81);
        out.push_back(uint8_t(length));
    } else {
        out.push_back(0x82);
        out.push_back(uint8_t(length >> 8));
        out.push_back(uint8_t(length));
    }
    out.insert(out.end(), content.begin(), content.end());
}

Bytes element(uint8_t tag, const Bytes& content) {
    Bytes out;
    put_element(out, tag, content);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// The curve of an AlgorithmIdentifier or of ECParameters: must be the OID
// of P-256.
bool read_curve(DerReader& from, std::string* why) {
    if (from.empty()) {
        return fail(why, "the key names no curve");
    }
    if (from.peek() == TAG_SEQUENCE) {
        return fail(why, "the key spells out its curve's parameters instead of naming "
                         "P-256 (prime256v1)");
    }
    DerReader curve;
    if (!from.read(TAG_OID, &curve, why, "the curve's name")) {
        return false;
    }
    if (curve.bytes() != OID_PRIME256V1) {
        return fail(why, "a key on " + describe_oid(curve.bytes(), "curve ") +
                             "; only P-256 (prime256v1) keys are taken");
    }
    return true;
}

// AlgorithmIdentifier { id-ecPublicKey, prime256v1 }.
bool read_algorithm(DerReader& from, std::string* why) {
    DerReader algorithm, oid;
    if (!from.read(TAG_SEQUENCE, &algorithm, why, "the key's algorithm") ||
        !algorithm.read(TAG_OID, &oid, why, "the key's algorithm")) {
        return false;
    }
    if (oid.bytes() != OID_EC_PUBLIC_KEY) {
        return fail(why, describe_oid(oid.bytes(), "a key of algorithm ") +
                             "; only ECDSA P-256 keys are taken");
    }
    if (!read_curve(algorithm, why)) {
        return false;
    }
    return algorithm.empty() || fail(why, "the key's algorithm has extra fields");
}

// The public point inside a BIT STRING's content.
bool read_point(const DerReader& bits, P256PublicKey* key, std::string* why) {
    if (bits.size() < 1 || bits.data()[0] != 0) {
        return fail(why, "the public point is malformed");
    }
    const uint8_t* point = bits.data() + 1;
    size_t size = bits.size() - 1;
    if (size >= 1 && (point[0] == 0x02 || point[0] == 0x03)) {
        return fail(why, "the public point is compressed; write the key uncompressed "
                         "(openssl pkey -pubin -in KEY -out NAME.pub)");
    }
    if (size != P256_POINT_SIZE || point[0] != 0x04) {
        return fail(why, "the public point has " + std::to_string(size) +
                             " bytes, not the 65 of an uncompressed P-256 point");
    }
    std::memcpy(key->point, point, P256_POINT_SIZE);
    return true;
}

Bytes bit_string_of(const P256PublicKey& key) {
    Bytes bits(1, 0);
    bits.insert(bits.end(), key.point, key.point + P256_POINT_SIZE);
    return element(TAG_BIT_STRING, bits);
}

Bytes algorithm_der() {
    return element(TAG_SEQUENCE,
                   concat({element(TAG_OID, OID_EC_PUBLIC_KEY), element(TAG_OID, OID_PRIME256V1)}));
}

// An unsigned big-endian INTEGER's magnitude, at most size bytes, right-aligned
// into out. False for a negative, non-minimal, zero or too long integer.
bool read_unsigned(const DerReader& integer, uint8_t* out, size_t size, std::string* why,
                   const char* what) {
    const uint8_t* p = integer.data();
    size_t n = integer.size();
    if (n == 0) {
        return fail(why, std::string(what) + " is empty");
    }
    if (p[0] & 0x80) {
        return fail(why, std::string(what) + " is negative");
    }
    if (n > 1 && p[0] == 0 && !(p[1] & 0x80)) {
        return fail(why, std::string(what) + " is not in its shortest form");
    }
    if (p[0] == 0 && n > 1) {
        ++p;
        --n;
    }
    if (n > size) {
        return fail(why, std::string(what) + " is longer than " + std::to_string(size) + " bytes");
    }
    std::memset(out, 0, size);
    std::memcpy(out + size - n, p, n);
    for (size_t i = 0; i < size; ++i) {
        if (out[i]) {
            return true;
        }
    }
    return fail(why, std::string(what) + " is zero");
}

Bytes unsigned_integer(const uint8_t* magnitude, size_t size) {
    size_t skip = 0;
    while (skip + 1 < size && magnitude[skip] == 0) {
        ++skip;
    }
    Bytes content;
    if (magnitude[skip] & 0x80) {
        content.push_back(0);
    }
    content.insert(content.end(), magnitude + skip, magnitude + size);
    return element(TAG_INTEGER, content);
}

// --- base64 ----------------------------------------------------------------

const char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

std::string base64_encode(const uint8_t* data, size_t size) {
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        uint32_t group = uint32_t(data[i]) << 16;
        if (i + 1 < size) {
            group |= uint32_t(data[i + 1]) << 8;
        }
        if (i + 2 < size) {
            group |= data[i + 2];
        }
        text += BASE64[group >> 18 & 63];
        text += BASE64[group >> 12 & 63];
        text += i + 1 < size ? BASE64[group >> 6 & 63] : '=';
        text += i + 2 < size ? BASE64[group & 63] : '=';
    }
    return text;
}

bool base64_decode(const std::string& text, Bytes* out) {
    out->clear();
    uint32_t group = 0;
    int count = 0;      // characters in the current group
    int padding = 0;    // "=" in the current group
    bool ended = false; // a padded group was the last one
    for (char c : text) {
        if (is_space(c)) {
            continue;
        }
        if (ended) {
            return false;
        }
        if (c == '=') {
            // Only the last one or two characters of a group.
            if (count < 2) {
                return false;
            }
            ++padding;
            group <<= 6;
        } else {
            int value = base64_value(c);
            if (value < 0 || padding) {
                return false;
            }
            group = group << 6 | uint32_t(value);
        }
        if (++count < 4) {
            continue;
        }
        out->push_back(uint8_t(group >> 16));
        if (padding < 2) {
            out->push_back(uint8_t(group >> 8));
        }
        if (padding < 1) {
            out->push_back(uint8_t(group));
        }
        ended = padding > 0;
        group = 0;
        count = 0;
    }
    return count == 0;
}

std::string pem_encode(const char* label, const Bytes& der) {
    std::string body = base64_encode(der.data(), der.size());
    std::string text = std::string("-----BEGIN ") + label + "-----\n";
    for (size_t i = 0; i < body.size(); i += 64) {
        text += body.substr(i, 64) + "\n";
    }
    return text + "-----END " + label + "-----\n";
}

bool pem_decode(const std::string& text, const std::vector<std::string>& labels,
                std::string* found_label, Bytes* der, std::string* why) {
    static const std::string BEGIN = "-----BEGIN ";
    std::vector<std::string> seen;
    size_t at = 0;
    while ((at = text.find(BEGIN, at)) != std::string::npos) {
        size_t label_start = at + BEGIN.size();
        size_t label_end = text.find("-----", label_start);
        size_t line_end = text.find('\n', label_start);
        if (label_end == std::string::npos ||
            (line_end != std::string::npos && label_end > line_end)) {
            return fail(why, "a -----BEGIN line is malformed");
        }
        std::string label = text.substr(label_start, label_end - label_start);
        std::string end_line = "-----END " + label + "-----";
        size_t body_start = label_end + 5;
        size_t body_end = text.find(end_line, body_start);
        if (body_end == std::string::npos) {
            return fail(why, "the PEM block \"" + label + "\" has no -----END line");
        }
        at = body_end + end_line.size();
        bool wanted = false;
        for (const std::string& candidate : labels) {
            wanted = wanted || candidate == label;
        }
        if (!wanted) {
            seen.push_back(label);
            continue;
        }
        std::string body = text.substr(body_start, body_end - body_start);
        if (body.find(':') != std::string::npos) {
            return fail(why, "the PEM block \"" + label +
                                 "\" has header lines (an encrypted key?); only plain keys "
                                 "are read");
        }
        if (!base64_decode(body, der)) {
            return fail(why, "the PEM block \"" + label + "\" is not valid base64");
        }
        if (found_label) {
            *found_label = label;
        }
        return true;
    }
    std::string wanted = "\"" + labels.front() + "\"";
    if (seen.empty()) {
        return fail(why, "not a PEM file (no -----BEGIN " + labels.front() + "----- line)");
    }
    std::string found;
    for (const std::string& label : seen) {
        found += (found.empty() ? "\"" : ", \"") + label + "\"";
    }
    return fail(why, "holds PEM " + found + " but no " + wanted);
}

bool p256_public_key_from_der(const uint8_t* der, size_t size, P256PublicKey* key,
                              std::string* why) {
    DerReader input(der, size), info, bits;
    if (!input.read(TAG_SEQUENCE, &info, why, "the public key") || !read_algorithm(info, why) ||
        !info.read(TAG_BIT_STRING, &bits, why, "the public point") || !read_point(bits, key, why)) {
        return false;
    }
    if (!info.empty() || !input.empty()) {
        return fail(why, "bytes follow the public key");
    }
    return true;
}

Bytes p256_public_key_to_der(const P256PublicKey& key) {
    return element(TAG_SEQUENCE, concat({algorithm_der(), bit_string_of(key)}));
}

bool p256_public_key_from_pem(const std::string& text, P256PublicKey* key, std::string* why) {
    Bytes der;
    std::string label;
    if (!pem_decode(text, {"PUBLIC KEY"}, &label, &der, why)) {
        if (text.find("PRIVATE KEY-----") != std::string::npos) {
            return fail(why, "this is a private key; give the public key (the .pub file) "
                             "instead, and keep the private one to yourself");
        }
        return false;
    }
    return p256_public_key_from_der(der.data(), der.size(), key, why);
}

std::string p256_public_key_to_pem(const P256PublicKey& key) {
    return pem_encode("PUBLIC KEY", p256_public_key_to_der(key));
}

bool p256_private_key_from_der(const uint8_t* der, size_t size, bool pkcs8, P256PrivateKey* key,
                               std::string* why) {
    DerReader input(der, size), outer, ec;
    if (!input.read(TAG_SEQUENCE, &outer, why, "the private key")) {
        return false;
    }
    if (!input.empty()) {
        return fail(why, "bytes follow the private key");
    }
    DerReader version, scalar;
    if (pkcs8) {
        DerReader wrapped;
        if (!outer.read(TAG_INTEGER, &version, why, "the key's version")) {
            return false;
        }
        if (version.size() != 1 || version.data()[0] > 1) {
            return fail(why, "a private key of an unknown version");
        }
        if (!read_algorithm(outer, why) ||
            !outer.read(TAG_OCTET_STRING, &wrapped, why, "the private key")) {
            return false;
        }
        // Attributes ([0]) and a second copy of the public key ([1]) may
        // follow; the inner key holds what is needed.
        if (!wrapped.read(TAG_SEQUENCE, &ec, why, "the private key")) {
            return false;
        }
        if (!wrapped.empty()) {
            return fail(why, "bytes follow the private key");
        }
    } else {
        ec = outer;
    }
    if (!ec.read(TAG_INTEGER, &version, why, "the private key's version")) {
        return false;
    }
    if (version.size() != 1 || version.data()[0] != 1) {
        return fail(why, "a private key of an unknown version");
    }
    if (!ec.read(TAG_OCTET_STRING, &scalar, why, "the private scalar")) {
        return false;
    }
    if (scalar.size() == 0 || scalar.size() > P256_SCALAR_SIZE) {
        return fail(why, "the private scalar has " + std::to_string(scalar.size()) +
                             " bytes, not the 32 of P-256");
    }
    std::memset(key->scalar, 0, P256_SCALAR_SIZE);
    std::memcpy(key->scalar + P256_SCALAR_SIZE - scalar.size(), scalar.data(), scalar.size());
    bool named = pkcs8; // PKCS#8 named its curve in the algorithm
    if (ec.peek() == TAG_CONTEXT_0) {
        DerReader parameters;
        if (!ec.read(TAG_CONTEXT_0, &parameters, why, "the curve's name") ||
            !read_curve(parameters, why)) {
            return false;
        }
        if (!parameters.empty()) {
            return fail(why, "the curve's name has extra fields");
        }
        named = true;
    }
    if (!named) {
        return fail(why, "the key names no curve");
    }
    DerReader tagged, bits;
    if (ec.peek() != TAG_CONTEXT_1) {
        return fail(why, "the private key holds no public key; write it with its public "
                         "half as openssl does (openssl pkey -in KEY -out NAME.key)");
    }
    if (!ec.read(TAG_CONTEXT_1, &tagged, why, "the public key") ||
        !tagged.read(TAG_BIT_STRING, &bits, why, "the public point") ||
        !read_point(bits, &key->public_key, why)) {
        return false;
    }
    if (!tagged.empty() || !ec.empty()) {
        return fail(why, "bytes follow the private key");
    }
    return true;
}

Bytes p256_private_key_to_der(const P256PrivateKey& key) {
    // As OpenSSL writes it: the curve in the algorithm only, the public
    // point inside the ECPrivateKey.
    Bytes inner =
        element(TAG_SEQUENCE,
                concat({element(TAG_INTEGER, {1}),
                        element(TAG_OCTET_STRING, Bytes(key.scalar, key.scalar + P256_SCALAR_SIZE)),
                        element(TAG_CONTEXT_1, bit_string_of(key.public_key))}));
    return element(TAG_SEQUENCE, concat({element(TAG_INTEGER, {0}), algorithm_der(),
                                         element(TAG_OCTET_STRING, inner)}));
}

bool p256_private_key_from_pem(const std::string& text, P256PrivateKey* key, std::string* why) {
    Bytes der;
    std::string label;
    if (!pem_decode(text, {"PRIVATE KEY", "EC PRIVATE KEY"}, &label, &der, why)) {
        if (text.find("ENCRYPTED PRIVATE KEY-----") != std::string::npos) {
            return fail(why, "the private key is encrypted; write it without a pass phrase "
                             "(openssl pkey -in KEY -out NAME.key)");
        }
        if (text.find("PUBLIC KEY-----") != std::string::npos) {
            return fail(why, "this is a public key; signing needs the private key "
                             "(the .key file)");
        }
        return false;
    }
    return p256_private_key_from_der(der.data(), der.size(), label == "PRIVATE KEY", key, why);
}

std::string p256_private_key_to_pem(const P256PrivateKey& key) {
    return pem_encode("PRIVATE KEY", p256_private_key_to_der(key));
}

bool ecdsa_signature_from_der(const uint8_t* der, size_t size, uint8_t raw[P256_RAW_SIGNATURE_SIZE],
                              std::string* why) {
    if (size == 0) {
        return fail(why, "the signature is empty");
    }
    DerReader input(der, size), pair, r, s;
    std::string inner;
    if (!input.read(TAG_SEQUENCE, &pair, &inner, "the leading SEQUENCE") ||
        !pair.read(TAG_INTEGER, &r, &inner, "r") || !pair.read(TAG_INTEGER, &s, &inner, "s")) {
        return fail(why, "not a DER ECDSA signature (" + inner + ")");
    }
    if (!pair.empty() || !input.empty()) {
        return fail(why, "not a DER ECDSA signature (bytes follow it)");
    }
    if (!read_unsigned(r, raw, P256_SCALAR_SIZE, &inner, "r") ||
        !read_unsigned(s, raw + P256_SCALAR_SIZE, P256_SCALAR_SIZE, &inner, "s")) {
        return fail(why, "not a P-256 ECDSA signature (" + inner + ")");
    }
    return true;
}

Bytes ecdsa_signature_to_der(const uint8_t raw[P256_RAW_SIGNATURE_SIZE]) {
    return element(TAG_SEQUENCE,
                   concat({unsigned_integer(raw, P256_SCALAR_SIZE),
                           unsigned_integer(raw + P256_SCALAR_SIZE, P256_SCALAR_SIZE)}));
}
