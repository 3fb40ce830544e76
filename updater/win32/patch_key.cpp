#include "patch_key.h"

// Written by CMake for each updater target: the key's text, or "".
#include "updater_patch_key.h"

const char* updater_patch_public_key() {
    return PATCH_PUBLIC_KEY;
}
