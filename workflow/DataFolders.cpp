#include "workflow/DataFolders.h"

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace quorvane {
namespace {

namespace fs = std::filesystem;

bool IsFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool IsFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

#ifdef _WIN32

// %APPDATA%\Quorvane; empty when APPDATA is not set.
fs::path UserDataFolder() {
    const wchar_t* appData = _wgetenv(L"APPDATA");
    if (appData == nullptr || *appData == L'\0') {
        return {};
    }
    return fs::path(appData) / L"Quorvane";
}

#else

// The user's home: $HOME, else the password database's entry; empty when neither says.
fs::path HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return fs::path(home);
    }
    const long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && *found->pw_dir != '\0') {
        return fs::path(found->pw_dir);
    }
    return {};
}

// $XDG_DATA_HOME/quorvane, or ~/.local/share/quorvane when XDG_DATA_HOME is unset, empty
// or relative (the XDG base directory rules ignore a relative value); empty when no home
// is known either.
fs::path UserDataFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && *dataHome != '\0' && fs::path(dataHome).is_absolute()) {
        return fs::path(dataHome) / "quorvane";
    }
    const fs::path home = HomeFolder();
    if (home.empty()) {
        return {};
    }
    return home / ".local" / "share" / "quorvane";
}

#endif

}  // namespace

fs::path ExecutableFolder() {
    std::error_code error;
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 && length < buffer.size()) {
        buffer.resize(length);
        return fs::path(buffer).parent_path();
    }
#else
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error && !self.empty()) {
        return self.parent_path();
    }
#endif
    const fs::path current = fs::current_path(error);
    return error ? fs::path() : current;
}

fs::path SpeakersFolder(const fs::path& executableFolder) {
    const fs::path beside = executableFolder / "Speakers";
    if (IsFolder(beside)) {
        return beside;
    }
    const fs::path user = UserDataFolder();
    // Without any user folder to go to, the folder beside the executable is the only one.
    return user.empty() ? beside : user / "Speakers";
}

std::vector<fs::path> InstalledHelpPages(const fs::path& executableFolder) {
    std::vector<fs::path> installed = {
        (executableFolder / ".." / "share" / "quorvane" / "help.htm").lexically_normal()};
#ifndef _WIN32
    installed.emplace_back("/usr/share/quorvane/help.htm");
#endif
    return installed;
}

fs::path HelpPage(const fs::path& executableFolder, const std::vector<fs::path>& installed) {
    const fs::path beside = executableFolder / "help.htm";
    if (IsFile(beside)) {
        return beside;
    }
    for (const fs::path& candidate : installed) {
        if (IsFile(candidate)) {
            return candidate;
        }
    }
    return beside;
}

fs::path HelpPage(const fs::path& executableFolder) {
    return HelpPage(executableFolder, InstalledHelpPages(executableFolder));
}

}  // namespace quorvane
