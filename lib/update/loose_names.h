// Decides whether the last name component of an entry below "/_extract" may
// become a file in the install folder.
#pragma once

#include <string>

// False, with why, for a name that could leave the install folder, alias
// another file or a device (see is_safe_component), or overwrite one of the
// updater's own files there (the data archive, the intermediate archive
// being read, the partial loose file), also through an 8.3 short name.
bool loose_name_allowed(const std::string& name, std::string& why);
