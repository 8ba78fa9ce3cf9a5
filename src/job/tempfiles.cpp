#include "job/tempfiles.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace pdftopjl::job {

namespace {

std::vector<std::string>& registry()
{
    static std::vector<std::string> files;
    return files;
}

}  // namespace

std::optional<std::string> TempDirectorySetting()
{
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr) return std::nullopt;
    return std::string(dir);
}

std::string TempDirectory()
{
    const std::optional<std::string> dir = TempDirectorySetting();
    return dir && !dir->empty() ? *dir : "/tmp";
}

TempFile CreateTempFile()
{
    // Built to its own length, so a TMPDIR of any length the system takes
    // works; never inherited by a program the filter starts.
    std::string path = TempDirectory() + "/pdftopjl-XXXXXX";
    TempFile file;
    file.fd.reset(mkostemp(path.data(), O_CLOEXEC));
    if (!file.fd) return file;
    file.path = path;
    RegisterTempFile(file.path);
    return file;
}

void RegisterTempFile(const std::string& path)
{
    if (path.empty()) return;
    auto& files = registry();
    if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
}

void RemoveTempFile(const std::string& path)
{
    if (path.empty()) return;
    unlink(path.c_str());
    auto& files = registry();
    files.erase(std::remove(files.begin(), files.end(), path), files.end());
}

void RemoveAllTempFiles()
{
    for (const auto& path : registry()) unlink(path.c_str());
    registry().clear();
}

}  // namespace pdftopjl::job
