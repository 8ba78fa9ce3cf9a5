#include "pages/painter.hpp"

#include <dlfcn.h>

namespace pdftopjl {

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
