# nlohmann/json, header-only, from Debian's nlohmann-json3-dev, as the
# interface target epk2_json. The tests read the tool's JSON output with it.
#
# The cross build must not see the rest of the host's /usr/include (Linux
# headers would shadow mingw's), so the target's include folder is one of
# its own in the build tree, holding only a link to the nlohmann folder.
find_path(EPK2_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp
    PATHS /usr/include /usr/local/include
    NO_CMAKE_FIND_ROOT_PATH REQUIRED
    DOC "Folder holding nlohmann/json.hpp (Debian: nlohmann-json3-dev)")
set(EPK2_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${EPK2_JSON_INCLUDE})
file(CREATE_LINK ${EPK2_NLOHMANN_JSON_INCLUDE}/nlohmann ${EPK2_JSON_INCLUDE}/nlohmann
    SYMBOLIC COPY_ON_ERROR)
add_library(epk2_json INTERFACE)
target_include_directories(epk2_json SYSTEM INTERFACE ${EPK2_JSON_INCLUDE})
