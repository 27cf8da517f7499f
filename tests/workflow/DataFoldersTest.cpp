// Where the window and the command line find the Speakers folder and the help page:
// beside the executable when the data is there, else the user's and the installed
// data folders.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestFiles.h"
#include "workflow/DataFolders.h"

namespace fs = std::filesystem;
using quorvane::testing::ScratchFolder;

namespace {

// Sets (or, with no value, removes) an environment variable for one test and puts the
// old value back afterwards.
class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::optional<std::string>& value)
        : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) {
            old_ = old;
        }
        Set(value);
    }
    ~ScopedVariable() { Set(old_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
#ifdef _WIN32
        _putenv_s(name_.c_str(), value ? value->c_str() : "");
#else
        if (value) {
            setenv(name_.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
#endif
    }
    std::string name_;
    std::optional<std::string> old_;
};

#ifndef _WIN32

struct SpeakersCase {
    const char* what;
    bool besideFolder;        // a "Speakers" folder beside the executable
    bool besideFile;          // a plain file named "Speakers" there instead
    const char* xdgDataHome;  // nullptr: unset; "@" stands for the scratch folder
    const char* expected;     // relative to the scratch folder
};

const std::vector<SpeakersCase> kSpeakersCases = {
    {"beside the executable wins", true, false, "@/data", "bin/Speakers"},
    {"XDG_DATA_HOME when set", false, false, "@/data", "data/quorvane/Speakers"},
    {"home default when unset", false, false, nullptr, "home/.local/share/quorvane/Speakers"},
    {"home default when empty", false, false, "", "home/.local/share/quorvane/Speakers"},
    {"relative XDG_DATA_HOME ignored", false, false, "data", "home/.local/share/quorvane/Speakers"},
    {"a file named Speakers is no folder", false, true, nullptr,
     "home/.local/share/quorvane/Speakers"},
};

TEST(DataFolders, SpeakersFolderFollowsTheRule) {
    for (const SpeakersCase& c : kSpeakersCases) {
        SCOPED_TRACE(c.what);
        const ScratchFolder scratch;
        const fs::path root = scratch.Path();
        const fs::path bin = root / "bin";
        fs::create_directories(bin);
        if (c.besideFolder) {
            fs::create_directory(bin / "Speakers");
        }
        if (c.besideFile) {
            std::ofstream(bin / "Speakers") << "not a folder";
        }
        std::optional<std::string> xdg;
        if (c.xdgDataHome != nullptr) {
            xdg = std::string(c.xdgDataHome);
            if (!xdg->empty() && xdg->front() == '@') {
                xdg = root.string() + xdg->substr(1);
            }
        }
        const ScopedVariable home("HOME", (root / "home").string());
        const ScopedVariable data("XDG_DATA_HOME", xdg);

        const fs::path folder = quorvane::SpeakersFolder(bin);
        EXPECT_EQ(folder, root / c.expected);
        // Only the first user added creates the folder.
        EXPECT_EQ(fs::exists(folder), c.besideFolder);
    }
}

#else

TEST(DataFolders, SpeakersFolderFollowsTheRule) {
    const ScratchFolder scratch;
    const fs::path bin = scratch.Path() / "bin";
    fs::create_directories(bin);
    const ScopedVariable appData("APPDATA", (scratch.Path() / "roaming").string());
    EXPECT_EQ(quorvane::SpeakersFolder(bin), scratch.Path() / "roaming" / "Quorvane" / "Speakers");
    fs::create_directory(bin / "Speakers");
    EXPECT_EQ(quorvane::SpeakersFolder(bin), bin / "Speakers");
}

#endif

TEST(DataFolders, HelpPageBesideTheExecutableThenInstalled) {
    // The installed places are given as folders of the scratch folder, so the answer does
    // not depend on whether this machine has the package installed.
    struct Case {
        const char* what;
        bool beside;
        bool shared;           // <prefix>/share/quorvane/help.htm
        bool system;           // the system's data folder
        const char* expected;  // relative to the scratch folder
    };
    const std::vector<Case> cases = {
        {"beside the executable wins", true, true, true, "bin/help.htm"},
        {"the prefix's data folder next", false, true, true, "share/quorvane/help.htm"},
        {"the system's data folder last", false, false, true, "usr/share/quorvane/help.htm"},
        {"none: the path beside, whose opening fails", false, false, false, "bin/help.htm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ScratchFolder scratch;
        const fs::path root = scratch.Path();
        const fs::path shared = root / "share" / "quorvane" / "help.htm";
        const fs::path system = root / "usr" / "share" / "quorvane" / "help.htm";
        fs::create_directories(root / "bin");
        for (const auto& [present, page] :
             {std::pair{c.beside, root / "bin" / "help.htm"}, std::pair{c.shared, shared},
              std::pair{c.system, system}}) {
            if (present) {
                fs::create_directories(page.parent_path());
                std::ofstream(page) << "<html></html>";
            }
        }
        EXPECT_EQ(quorvane::HelpPage(root / "bin", {shared, system}), root / c.expected);
    }
}

TEST(DataFolders, InstalledHelpPagesOfThePlatform) {
    const fs::path bin = fs::path("opt") / "quorvane" / "bin";
    std::vector<fs::path> expected = {fs::path("opt") / "quorvane" / "share" / "quorvane" /
                                      "help.htm"};
#ifndef _WIN32
    // Only a Linux package puts the page there; a Windows copy never looks for it.
    expected.emplace_back("/usr/share/quorvane/help.htm");
#endif
    EXPECT_EQ(quorvane::InstalledHelpPages(bin), expected);
}

TEST(DataFolders, ExecutableFolderIsTheRunningProgramsFolder) {
    const fs::path folder = quorvane::ExecutableFolder();
    EXPECT_TRUE(folder.is_absolute()) << folder;
    EXPECT_TRUE(fs::is_directory(folder)) << folder;
#ifndef _WIN32
    // The program's own file lies in it, as the process knows it.
    EXPECT_EQ(fs::canonical("/proc/self/exe").parent_path(), fs::canonical(folder));
#endif
}

}  // namespace
