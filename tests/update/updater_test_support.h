// Helpers for the update logic's tests: archives packed from small trees by
// the real builder, and a fixture with an install folder and an updater
// folder holding Patch.dat (the recording view is shared with the fuzz
// targets).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "support/platform_files.h"
#include "support/recording_view.h"
#include "support/test_support.h"
#include "update/update_logic.h"
#include "update/version_info.h"

// Relative paths ("info.txt", "_extract/sub/a.txt"; code page 932) and their
// contents.
using Tree = std::vector<std::pair<std::string, std::string>>;

// "info.txt" content in CR LF lines.
std::string info_txt(const std::string& version, const std::string& attribute,
                     const std::string& identifer = "Tessavane");

// Writes every file of tree below folder, making the folders on the way.
void write_tree(const std::string& folder, const Tree& tree);

// Packs tree into an archive at path with the real builder (entries in
// byte order of their names, as "epk2 pack" writes them).
void pack_tree(const Tree& tree, const std::string& path);
// The version information of the archive at path; empty fields when the
// archive does not open.
VersionInfo archive_version(const std::string& path);
// The content of one entry; "<missing>" when it cannot be opened.
std::string archive_entry(const std::string& archive, const std::string& entry);
// Every entry path of the archive, in archive order.
std::vector<std::string> archive_paths(const std::string& archive);

// Flips one byte in the middle of the stored data of an entry.
void damage_entry(const std::string& archive, const std::string& entry);
// Renames an entry in place inside the archive's scrambled table; to may be
// shorter than from (the rest of the name's bytes become zeros).
void rename_entry(const std::string& archive, const std::string& from, const std::string& to);

// The install folder and the updater's folder of one test, in a temporary
// folder, with library messages kept quiet.
class UpdateFixture {
  public:
    UpdateFixture();
    ~UpdateFixture();

    std::string install() const { return install_; }
    std::string data() const { return join(install_, "Tessavane.dat"); }
    std::string intermediate() const { return join(install_, "Tessavane.tmp"); }
    std::string patch() const { return join(updater_, "Patch.dat"); }
    std::string root() const { return temp_.path(); }

    // A view whose install folder and module path point at the fixture.
    RecordingView view() const;
    UpdateSteps quiet_steps() const;
    // Runs "epk2 WORDS..." in this process; out and err get what it printed.
    int run_epk2(std::vector<std::string> words, std::string& out, std::string& err) const;

  private:
    MessageCapture quiet_; // library messages are expected here
    TempDir temp_;
    std::string install_;
    std::string updater_;
};
