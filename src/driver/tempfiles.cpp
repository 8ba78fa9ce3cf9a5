#include "driver/tempfiles.hpp"

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {
std::vector<std::string>& registry()
{
    static std::vector<std::string> files;
    return files;
}
void forget(const std::string& path)
{
    auto& files = registry();
    files.erase(std::remove(files.begin(), files.end(), path), files.end());
}

}  // namespace

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
    forget(path);
}

void RemoveAllTempFiles()
{
    for (const auto& path : registry()) unlink(path.c_str());
    registry().clear();
}
