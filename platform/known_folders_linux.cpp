#include "platform/known_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

namespace xel::platform {
namespace {

const char kPublicShareKey[] = "XDG_PUBLICSHARE_DIR";

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The home folder recorded for the calling user, or empty.
std::string passwordDatabaseHome() {
    long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir)
        return {};
    return found->pw_dir;
}

// A value of the user-dirs kind: "$HOME" at its start stands for `home`. Absent unless the result
// is an absolute path.
std::optional<std::string> expandedFolder(const std::string& value, const std::string& home) {
    std::string folder = value;
    const std::string homeVariable = "$HOME";
    if (folder.compare(0, homeVariable.size(), homeVariable) == 0) {
        const std::string rest = folder.substr(homeVariable.size());
        if (home.empty() || (!rest.empty() && rest.front() != '/'))
            return std::nullopt;
        folder = home + rest;
    }
    if (folder.empty() || folder.front() != '/')
        return std::nullopt;
    return withoutTrailingSlashes(folder);
}

// The value of `key` in a user-dirs.dirs file, a shell fragment of lines KEY="value" in which a
// backslash escapes the next character. The last assignment wins, as in the shell.
std::optional<std::string> userDirsValue(const std::string& file, const std::string& key) {
    std::ifstream in(file);
    std::optional<std::string> result;
    std::string line;
    while (std::getline(in, line)) {
        std::size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line[at] == '#')
            continue;
        if (line.compare(at, key.size(), key) != 0 || line.size() <= at + key.size() ||
            line[at + key.size()] != '=')
            continue;
        at += key.size() + 1;
        std::string value;
        if (at < line.size() && line[at] == '"') {
            bool closed = false;
            for (++at; at < line.size(); ++at) {
                if (line[at] == '\\' && at + 1 < line.size()) {
                    value += line[++at];
                } else if (line[at] == '"') {
                    closed = true;
                    break;
                } else {
                    value += line[at];
                }
            }
            if (!closed)
                continue;
        } else {
            const std::size_t end = line.find_first_of(" \t#", at);
            value = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
        }
        result = value;
    }
    return result;
}

// Empty when neither XDG_CONFIG_HOME nor `home` names a folder.
std::string userDirsFile(const std::string& home) {
    const std::string configHome = environmentValue("XDG_CONFIG_HOME");
    if (!configHome.empty() && configHome.front() == '/')
        return withoutTrailingSlashes(configHome) + "/user-dirs.dirs";
    return home.empty() ? std::string() : home + "/.config/user-dirs.dirs";
}

}  // namespace

const char* executableSuffix() {
    return "";
}

std::string publicDocumentsFolder() {
    const std::string home = withoutTrailingSlashes(environmentValue("HOME"));
    if (const char* value = std::getenv(kPublicShareKey)) {
        if (auto folder = expandedFolder(value, home))
            return *folder;
    }
    const std::string file = userDirsFile(home);
    if (!file.empty()) {
        if (auto value = userDirsValue(file, kPublicShareKey)) {
            if (auto folder = expandedFolder(*value, home))
                return *folder;
        }
    }
    if (!home.empty())
        return home + "/Public";
    return withoutTrailingSlashes(passwordDatabaseHome());
}

}  // namespace xel::platform
