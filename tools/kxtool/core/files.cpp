#include "files.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first
#include <sddl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace kxtool {
namespace {

// The first line of a password file is a password of at most 10
// characters; more than this is no password file.
constexpr size_t password_file_limit = 1024;

namespace fs = std::filesystem;

// ".NAME.1a2b3c4d" beside path: a name no other writer picks.
fs::path temporary_beside(const fs::path &path) {
    static std::mt19937_64 random{std::random_device{}()};
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string name = ".";
    name += path.filename().string();
    name += '.';
    name += suffix;
    return path.parent_path() / name;
}

// The first line of what was read from a password file, without its end.
bool password_line(const std::string &bytes, const std::string &path, std::string &password,
                   std::string &error) {
    if (bytes.size() > password_file_limit && bytes.find('\n') == std::string::npos) {
        error = "--password-file: the first line of " + path + " is longer than " +
                std::to_string(password_file_limit) + " bytes: not a password";
        return false;
    }
    password = bytes.substr(0, bytes.find('\n'));
    while (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

#ifdef _WIN32
std::string system_error_text(DWORD error) {
    char text[256] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     text, sizeof text, nullptr);
    std::string out = text;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "Windows error " + std::to_string(error) : out;
}
#else
std::string system_error_text(int error) { return std::strerror(error); }
#endif

}  // namespace

bool read_json_file(const std::string &path, nlohmann::json &out, std::string &error) {
    std::error_code ignored;
    if (fs::is_directory(path, ignored)) {
        error = path + " is a directory, not a JSON file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    if (in) text << in.rdbuf();
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    out = nlohmann::json::parse(text.str(), nullptr, false);
    if (out.is_discarded()) {
        error = path + " is not valid JSON";
        return false;
    }
    return true;
}

#ifdef _WIN32

std::string refused_target(const std::string &path) {
    const DWORD attributes = ::GetFileAttributesW(fs::path(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return path + " is a link or a folder, not a file; kxtool does not write through it";
    return {};
}

bool replace_file(const std::string &path, std::string_view content, bool secret,
                  std::string &error) {
    const fs::path target = fs::path(path);
    if (error = refused_target(path); !error.empty()) return false;
    // Owner only: a protected list that grants the owner everything.
    PSECURITY_DESCRIPTOR owner_only = nullptr;
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    if (secret) {
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &owner_only, nullptr)) {
            error = "cannot make " + path + " private: " + system_error_text(::GetLastError());
            return false;
        }
        security.lpSecurityDescriptor = owner_only;
    }
    fs::path temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = temporary_beside(target);
        file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, secret ? &security : nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (owner_only != nullptr) ::LocalFree(owner_only);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot create a file beside " + path + ": " + system_error_text(::GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok =
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size() && ::FlushFileBuffers(file);
    DWORD failure = ok ? 0 : ::GetLastError();
    ::CloseHandle(file);
    if (ok) {
        ok = ::MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!ok) failure = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileW(temporary.c_str());
        error = "cannot write " + path + ": " + system_error_text(failure);
    }
    return ok;
}

bool read_password_file(const std::string &path, std::string &password, std::string &error) {
    std::error_code ignored;
    std::ifstream in(fs::path(path), std::ios::binary);
    if (!in || fs::is_directory(fs::path(path), ignored)) {
        error = "--password-file: cannot read " + path;
        return false;
    }
    std::string bytes(password_file_limit + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        error = "--password-file: cannot read " + path;
        return false;
    }
    bytes.resize(static_cast<size_t>(in.gcount()));
    return password_line(bytes, path, password, error);
}

#else

std::string refused_target(const std::string &path) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0) return {};
    if (S_ISLNK(existing.st_mode))
        return path +
               " is a symbolic link; kxtool does not write through one (remove it, or give "
               "another folder)";
    if (!S_ISREG(existing.st_mode)) return path + " is not a plain file";
    return {};
}

bool replace_file(const std::string &path, std::string_view content, bool secret,
                  std::string &error) {
    if (error = refused_target(path); !error.empty()) return false;
    struct stat existing {};
    const bool exists = ::lstat(path.c_str(), &existing) == 0;
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporary_beside(path);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    secret ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = "cannot create a file beside " + path + ": " + system_error_text(errno);
        return false;
    }
    // A backup replaces its predecessor with the same access, never wider.
    bool ok = secret || !exists || ::fchmod(fd, existing.st_mode & 07777) == 0;
    for (size_t done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    int failure = ok ? 0 : errno;
    if (ok && ::fsync(fd) != 0) ok = false, failure = errno;
    if (::close(fd) != 0 && ok) ok = false, failure = errno;
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) ok = false, failure = errno;
    if (!ok) {
        ::unlink(temporary.c_str());
        error = "cannot write " + path + ": " + system_error_text(failure);
        return false;
    }
    return true;
}

bool read_password_file(const std::string &path, std::string &password, std::string &error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat about {};
    if (fd < 0 || ::fstat(fd, &about) != 0 || S_ISDIR(about.st_mode)) {
        if (fd >= 0) ::close(fd);
        error = "--password-file: cannot read " + path;
        return false;
    }
    if ((about.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
        (about.st_uid != ::geteuid() && about.st_uid != 0)) {
        ::close(fd);
        error = "--password-file: " + path +
                (about.st_uid != ::geteuid() && about.st_uid != 0
                     ? " belongs to another user"
                     : " may be written by others than its owner") +
                ", who could choose the password kxtool sends; make it yours and private "
                "(chmod go-w)";
        return false;
    }
    std::string bytes;
    char buffer[256];
    while (bytes.size() <= password_file_limit && bytes.find('\n') == std::string::npos) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            error = "--password-file: cannot read " + path;
            return false;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return password_line(bytes, path, password, error);
}

#endif

}  // namespace kxtool
