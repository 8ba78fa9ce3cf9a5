// SPDX-License-Identifier: Apache-2.0
#include "job/jobcopy.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "job/tempfiles.hpp"
#include "job/text.hpp"

namespace pdftopjl::job {

namespace {

// Names tried in one second: nd<stamp>.job, then nd<stamp>-2.job and on.
constexpr int kNameTries = 100;
constexpr size_t kMostKept = 1000;
constexpr size_t kMarkerBytes = 4096;

bool ownedSafely(const struct stat& st)
{
    return (st.st_uid == 0 || st.st_uid == geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

void applySetting(std::string_view name, std::string_view value, JobCopySettings& settings)
{
    if (name == "directory") {
        if (value == "tmpdir")
            settings.directory = TempDirectory() + "/" + kJobCopyTempSubdirectory;
        else if (value.starts_with("/"))
            settings.directory = std::string(value);
    } else if (name == "keep") {
        const int32_t count = ParseDecimalInt32(value);
        if (count >= 1) settings.keep = std::min<size_t>(static_cast<size_t>(count), kMostKept);
    } else if (name == "days") {
        const int32_t days = ParseDecimalInt32(value);
        if (days >= 1) settings.days = std::min(days, 3650);
    } else if (name == "passcodes") {
        settings.keepPasscodes = value == "keep";
    }
}

// A copy this module made: "nd", 14 digits, an optional "-N", ".job".
bool isCopyName(std::string_view name)
{
    if (!name.starts_with("nd") || !name.ends_with(".job") || name.size() < 2 + 14 + 4) return false;
    const std::string_view middle = name.substr(2, name.size() - 6);
    for (size_t i = 0; i < middle.size(); ++i) {
        const char c = middle[i];
        if (c >= '0' && c <= '9') continue;
        if (c == '-' && i == 14 && i + 1 < middle.size()) continue;
        return false;
    }
    return middle.size() == 14 || middle[14] == '-';
}

// Removes copies older than the age limit, then the oldest until there is
// room for one more within the count.
void prune(int dirFd, const JobCopySettings& settings, time_t now)
{
    DIR* dir = fdopendir(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (dir == nullptr) return;
    struct Copy {
        time_t mtime;
        std::string name;
    };
    std::vector<Copy> copies;
    while (dirent* entry = readdir(dir)) {
        if (!isCopyName(entry->d_name)) continue;
        struct stat st;
        if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        copies.push_back({st.st_mtime, entry->d_name});
    }
    closedir(dir);
    std::sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) {
        return a.mtime != b.mtime ? a.mtime < b.mtime : a.name < b.name;
    });
    const time_t oldest = now - static_cast<time_t>(settings.days) * 24 * 60 * 60;
    size_t left = copies.size();
    for (const Copy& copy : copies) {
        if (copy.mtime >= oldest && left < settings.keep) break;
        if (unlinkat(dirFd, copy.name.c_str(), 0) == 0) --left;
    }
}

UniqueFd openDirectory(const std::string& path, std::string* problem)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd dir(open(path.c_str(), flags));
    if (!dir && errno == ENOENT && mkdir(path.c_str(), 0700) == 0) dir.reset(open(path.c_str(), flags));
    if (!dir) {
        *problem = path + ": " + std::strerror(errno);
        return {};
    }
    struct stat st;
    if (fstat(dir.get(), &st) != 0 || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *problem = path + " is not this user's own directory (it must belong to the filter's "
                          "user and be writable by no one else)";
        return {};
    }
    return dir;
}

}  // namespace

std::optional<JobCopySettings> ReadJobCopyMarker(const char* path, std::string* problem)
{
    if (path == nullptr || *path == '\0') return std::nullopt;
    // Never a blocking open: a FIFO is no marker.
    UniqueFd fd(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return std::nullopt;
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (!ownedSafely(st)) {
        *problem = std::string("the marker ") + path +
                   " is ignored: others than its owner may change it (it must belong to root or "
                   "the filter's user and be writable by its owner only)";
        return std::nullopt;
    }
    std::string text(kMarkerBytes, '\0');
    ssize_t n;
    while ((n = read(fd.get(), text.data(), text.size())) < 0 && errno == EINTR) {
    }
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);

    JobCopySettings settings;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        line = trimmed(line.substr(0, line.find('#')));
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        applySetting(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), settings);
    }
    return settings;
}

UniqueFd CreateJobCopyFile(const JobCopySettings& settings, std::string* problem, time_t now)
{
    UniqueFd dir = openDirectory(settings.directory, problem);
    if (!dir) return {};
    prune(dir.get(), settings, now);

    char stamp[32] = {0};
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return {};
    strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);

    // Always a new regular file: a name already taken is left alone and a
    // counter joins the name.  The open never waits.
    const std::string base = std::string("nd") + stamp;
    for (int attempt = 1; attempt <= kNameTries; ++attempt) {
        std::string name = base;
        if (attempt > 1) name.append("-").append(std::to_string(attempt));
        name += ".job";
        UniqueFd fd(openat(dir.get(), name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!fd && errno == EEXIST) continue;
        if (!fd) {
            *problem = settings.directory + "/" + name + ": " + std::strerror(errno);
            return {};
        }
        // Whatever the umask, the copy is its owner's alone.
        fchmod(fd.get(), 0600);
        return fd;
    }
    *problem = settings.directory + ": no free name for this second";
    return {};
}

}  // namespace pdftopjl::job
