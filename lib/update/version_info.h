// The version information an archive carries in its "info.txt": CR LF
// lines of key=value with the keys "identifer", "version" and "attribute".
#pragma once

struct FileSystem;

constexpr unsigned VERSION_FIELD_SIZE = 256;

struct VersionInfo {
    char identifer[VERSION_FIELD_SIZE]; // spelled as the key in the file
    char version[VERSION_FIELD_SIZE];
    char attribute[VERSION_FIELD_SIZE];
};

// Reads "info.txt" from the archive's current directory into info. Fields
// that the file does not set keep what they held. Returns false, setting
// nothing, when "info.txt" cannot be opened.
bool read_version_info(FileSystem* fs, VersionInfo* info);

// The numeric value of a version text, read as the C runtime's atof reads a
// decimal number (leading white space, sign, digits with at most one point,
// exponent; reading stops at the first other character; no number reads as
// 0), but always with "." as the decimal point, whatever the user's locale.
double parse_version(const char* text);
