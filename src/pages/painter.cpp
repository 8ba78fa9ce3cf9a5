// SPDX-License-Identifier: Apache-2.0
#include "pages/painter.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <memory>

namespace pdftopjl {

namespace {

// The module by the program's own library search path, each directory named
// in full.  A bare name is looked up by the path of the object that calls
// dlopen, which is not the program when a sanitizer's runtime intercepts the
// call.
void* openByTheProgramsSearchPath()
{
    void* program = dlopen(nullptr, RTLD_LAZY);
    if (program == nullptr) return nullptr;
    Dl_serinfo size;
    if (dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0) return nullptr;
    std::unique_ptr<Dl_serinfo, void (*)(void*)> paths(static_cast<Dl_serinfo*>(std::malloc(size.dls_size)),
                                                       std::free);
    if (!paths) return nullptr;
    *paths = size;
    if (dlinfo(program, RTLD_DI_SERINFOSIZE, paths.get()) != 0 ||
        dlinfo(program, RTLD_DI_SERINFO, paths.get()) != 0)
        return nullptr;
    for (unsigned i = 0; i < paths->dls_cnt; ++i) {
        const std::string file = std::string(paths->dls_serpath[i].dls_name) + "/" + kPainterModule;
        if (void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
    }
    return nullptr;
}

}  // namespace

Painter* LoadPainter(std::string* why)
{
    // Loaded for good: workers forked later inherit it, and poppler's own
    // state must outlive every document.
    static Painter* painter = nullptr;
    static std::string failure;
    if (painter != nullptr) return painter;
    if (!failure.empty()) {
        *why = failure;
        return nullptr;
    }
    void* module = dlopen(kPainterModule, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* error = dlerror();
        failure = error != nullptr ? error : "unknown error";
        module = openByTheProgramsSearchPath();
        if (module != nullptr) failure.clear();
    }
    if (module == nullptr) {
        // the loader's reason for the bare name stands
    } else if (auto entry = reinterpret_cast<PainterEntry>(dlsym(module, kPainterEntry))) {
        painter = entry();
        if (painter == nullptr) failure = "it offers no painter";
    } else {
        failure = std::string("it has no ") + kPainterEntry + " (another version?)";
    }
    if (painter == nullptr) *why = failure;
    return painter;
}

}  // namespace pdftopjl
