// SPDX-License-Identifier: Apache-2.0
#include "job/tempfiles.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace pdftopjl::job {

namespace {

std::vector<std::string>& registry()
{
    static std::vector<std::string> files;
    return files;
}

// The same paths for a signal handler, which can neither lock nor allocate:
// each slot holds its own copy, cleared before the copy is freed.  A job has
// two or three files at a time.
constexpr size_t kSignalSlots = 16;
std::atomic<char*> gSignalSlots[kSignalSlots];

void addSignalSlot(const std::string& path)
{
    for (auto& slot : gSignalSlots) {
        if (slot.load() != nullptr) continue;
        slot.store(strdup(path.c_str()));
        return;
    }
}

void dropSignalSlot(const std::string& path)
{
    for (auto& slot : gSignalSlots) {
        char* held = slot.load();
        if (held == nullptr || path != held) continue;
        slot.store(nullptr);
        std::free(held);
    }
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
    if (std::find(files.begin(), files.end(), path) != files.end()) return;
    files.push_back(path);
    addSignalSlot(path);
}

void RemoveTempFile(const std::string& path)
{
    if (path.empty()) return;
    unlink(path.c_str());
    dropSignalSlot(path);
    auto& files = registry();
    files.erase(std::remove(files.begin(), files.end(), path), files.end());
}

void RemoveAllTempFiles()
{
    for (const auto& path : registry()) {
        unlink(path.c_str());
        dropSignalSlot(path);
    }
    registry().clear();
}

void RemoveAllTempFilesFromSignal()
{
    for (auto& slot : gSignalSlots)
        if (const char* path = slot.load()) unlink(path);
}

}  // namespace pdftopjl::job
