#include "settings/ppd.hpp"

#include <cstdlib>
#include <cstring>

PpdHandle OpenJobPPD()
{
    const char* path = std::getenv("PPD");
    if (path == nullptr || *path == '\0') return PpdHandle();
    return PpdHandle(ppdOpenFile(path));
}

ppd_attr_t* ppdFindAttr_ALT(ppd_file_t* ppd, const char* name, const char* /*spec*/)
{
    if (ppd == nullptr || name == nullptr || ppd->num_attrs <= 0 || ppd->attrs == nullptr)
        return nullptr;
    const size_t length = std::strlen(name);
    for (int i = 0; i < ppd->num_attrs; ++i) {
        ppd_attr_t* attr = ppd->attrs[i];
        if (attr != nullptr && std::strncmp(attr->name, name, length) == 0) return attr;
    }
    return nullptr;
}
