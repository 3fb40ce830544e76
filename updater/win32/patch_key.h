// The publisher's public key compiled into this build of the updater
// (-DTESSAVANE_PATCH_PUBLIC_KEY=NAME.pub), as PEM text; empty when it was
// built without one.
#pragma once

const char* updater_patch_public_key();
