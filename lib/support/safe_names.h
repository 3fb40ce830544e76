// Decides whether an archive entry's name may become a path below the
// extraction folder. Names come from outside, so anything that could climb
// out of the folder, alias another file or name a Windows device is refused.
#pragma once

#include <string>
#include <vector>

// Splits an archive path ("/a/b/c") into components and checks each. On
// refusal, why says what is wrong and false is returned.
bool split_safe_path(const std::string& archive_path, std::vector<std::string>& components,
                     std::string& why);

// One component, code page 932.
bool is_safe_component(const std::string& component, std::string& why);
