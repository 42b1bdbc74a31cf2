#include "browser.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "guard.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

namespace kxtool::console {
namespace {

std::string forwarding_page(const std::string &url) {
    // The URL is ours: digits, letters and ":/.?=" only.
    return "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n<meta name=\"referrer\" "
           "content=\"no-referrer\">\n<meta http-equiv=\"refresh\" content=\"0;url=" +
           url + "\">\n<title>kxtool console</title>\n<a href=\"" + url +
           "\">Open the kxtool console</a>\n";
}

#ifdef _WIN32

bool write_private_file(const std::string &content, std::string &file, std::string &error) {
    wchar_t folder[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0) {
        error = "no folder for temporary files";
        return false;
    }
    // The user's own temporary folder; the name is random and made new.
    const std::wstring name = std::wstring(folder) + L"kxtool-console-" +
                              std::filesystem::path(random_hex(8)).wstring() + L".html";
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = "could not write a file in the temporary folder";
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size();
    CloseHandle(h);
    file = std::filesystem::path(name).string();
    if (!ok) error = "could not write " + file;
    return ok;
}

bool open_file(const std::string &file, std::string &error) {
    const std::wstring path = std::filesystem::path(file).wstring();
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) return true;
    error = "Windows could not open a browser (error " + std::to_string(result) + ")";
    return false;
}

#else

// $XDG_CACHE_HOME/kxtool (or ~/.cache/kxtool): a folder only this user can
// enter, which a browser in a sandbox of its own can still read.
std::string private_folder(std::string &error) {
    std::string base;
    if (const char *cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache == '/')
        base = cache;
    else if (const char *home = std::getenv("HOME"); home != nullptr && *home == '/')
        base = std::string(home) + "/.cache";
    else
        base = "/tmp";
    std::error_code ignored;
    std::filesystem::create_directories(base, ignored);
    const std::string folder = base + "/kxtool";
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        error = folder + " is not a folder of this user's alone";
        return {};
    }
    return folder;
}

bool write_private_file(const std::string &content, std::string &file, std::string &error) {
    const std::string folder = private_folder(error);
    if (folder.empty()) return false;
    std::string name = folder + "/console-XXXXXX.html";
    const int fd = ::mkstemps(name.data(), 5);  // created new, owner-only
    if (fd < 0) {
        error = "could not write a file in " + folder;
        return false;
    }
    const bool ok =
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    file = name;
    if (!ok) error = "could not write " + name;
    return ok;
}

bool open_file(const std::string &file, std::string &error) {
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    for (const int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    char program[] = "xdg-open";
    std::string argument = file;
    char *argv[] = {program, argument.data(), nullptr};
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, program, &quiet, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (failed != 0) {
        error = "xdg-open could not be started to open a browser";
        return false;
    }
    // xdg-open may wait for the browser; it is collected whenever it ends.
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return true;
}

#endif

}  // namespace

bool open_browser(const std::string &url, std::string &file, std::string &error) {
    file.clear();
    if (!write_private_file(forwarding_page(url), file, error)) {
        remove_file(file);
        file.clear();
        return false;
    }
    return open_file(file, error);
}

void remove_file(const std::string &file) {
    if (file.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

}  // namespace kxtool::console
