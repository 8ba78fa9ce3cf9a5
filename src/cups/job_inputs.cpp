// SPDX-License-Identifier: Apache-2.0
#include "cups/job_inputs.hpp"

#include <cstring>

namespace pdftopjl {

std::optional<JobArguments> JobArguments::FromCommandLine(int argc, char* argv[])
{
    if (argc < 6 || argv == nullptr) return std::nullopt;
    auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
    JobArguments args;
    args.program = text(argv[0]);
    args.jobId = text(argv[1]);
    args.user = text(argv[2]);
    args.title = text(argv[3]);
    args.copies = text(argv[4]);
    args.optionText = text(argv[5]);
    if (argc >= 7 && argv[6] != nullptr) args.documentPath = argv[6];
    return args;
}

JobOptions::JobOptions(const char* text)
{
    if (text != nullptr) count_ = cupsParseOptions(text, 0, &list_);
}

JobOptions::~JobOptions() { cupsFreeOptions(count_, list_); }

PpdHandle OpenPpd(const char* path)
{
    if (path == nullptr || *path == '\0') return PpdHandle();
    return PpdHandle(ppdOpenFile(path));
}

ppd_attr_t* FindAttributeByPrefix(const ppd_file_t* ppd, const char* name)
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

bool PpdOffers(const ppd_file_t* ppd, const char* option)
{
    return ppd != nullptr && ppdFindOption(const_cast<ppd_file_t*>(ppd), option) != nullptr;
}

const char* PpdDefaultChoice(const ppd_file_t* ppd, const char* option)
{
    if (ppd == nullptr) return nullptr;
    ppd_option_t* found = ppdFindOption(const_cast<ppd_file_t*>(ppd), option);
    return found != nullptr ? found->defchoice : nullptr;
}

}  // namespace pdftopjl
