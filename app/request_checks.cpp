// SPDX-License-Identifier: Apache-2.0
#include "request_checks.hpp"

#include <cstring>
#include <filesystem>

#include "passcodes.hpp"

namespace pdftopjl::app {

bool HasControl(std::string_view value)
{
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

namespace {

size_t limitFor(ipp_tag_t tag)
{
    switch (tag) {
    case IPP_TAG_TEXT:
    case IPP_TAG_TEXTLANG:
    case IPP_TAG_URI:
        return 1023;
    default:
        return 255;
    }
}

bool isString(ipp_tag_t tag)
{
    switch (tag) {
    case IPP_TAG_TEXT:
    case IPP_TAG_NAME:
    case IPP_TAG_TEXTLANG:
    case IPP_TAG_NAMELANG:
    case IPP_TAG_KEYWORD:
    case IPP_TAG_URI:
    case IPP_TAG_URISCHEME:
    case IPP_TAG_CHARSET:
    case IPP_TAG_LANGUAGE:
    case IPP_TAG_MIMETYPE:
        return true;
    default:
        return false;
    }
}

// The first bad value in `ipp`, collections included: its problem, or "".
std::string badValue(ipp_t* ipp, ipp_attribute_t** where)
{
    for (ipp_attribute_t* attr = ippFirstAttribute(ipp); attr != nullptr; attr = ippNextAttribute(ipp)) {
        const ipp_tag_t tag = ippGetValueTag(attr);
        const int count = ippGetCount(attr);
        const char* name = ippGetName(attr) != nullptr ? ippGetName(attr) : "";
        for (int i = 0; i < count; ++i) {
            if (tag == IPP_TAG_BEGIN_COLLECTION) {
                ipp_attribute_t* inner = nullptr;
                std::string problem = badValue(ippGetCollection(attr, i), &inner);
                if (!problem.empty()) {
                    *where = attr;
                    return problem;
                }
                continue;
            }
            if (!isString(tag)) continue;
            const char* value = ippGetString(attr, i, nullptr);
            const std::string_view text = value != nullptr ? value : "";
            if (HasControl(text)) {
                *where = attr;
                return std::string("The value of \"") + name + "\" holds a control character";
            }
            if (text.size() > limitFor(tag)) {
                *where = attr;
                return std::string("The value of \"") + name + "\" is longer than " +
                       std::to_string(limitFor(tag)) + " bytes";
            }
        }
    }
    return "";
}

bool inside(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (f->empty()) continue;  // a trailing separator
        if (p == path.end() || *p != *f) return false;
    }
    return true;
}

}  // namespace

std::optional<Refusal> CheckValues(ipp_t* request)
{
    ipp_attribute_t* attr = nullptr;
    std::string problem = badValue(request, &attr);
    if (problem.empty()) return std::nullopt;
    return Refusal{IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, problem, {attr}};
}

std::optional<Refusal> CheckPasscode(ipp_t* request)
{
    std::optional<JobPassword> password = RequestPassword(request);
    if (!password) return std::nullopt;
    std::string problem = PasscodeError(*password);
    explicit_bzero(password->value.data(), password->value.size());
    if (problem.empty()) return std::nullopt;
    Refusal refusal{IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, problem, {}};
    for (const char* name : {"job-password", "job-password-encryption"})
        if (ipp_attribute_t* attr = ippFindAttribute(request, name, IPP_TAG_ZERO))
            if (std::strcmp(name, "job-password") == 0 || problem.find("encrypted") != std::string::npos)
                refusal.unsupported.push_back(attr);
    return refusal;
}

std::optional<Refusal> CheckOverrides(ipp_t* request)
{
    ipp_attribute_t* overrides = ippFindAttribute(request, "overrides", IPP_TAG_ZERO);
    if (overrides == nullptr) return std::nullopt;
    bool changes = ippGetValueTag(overrides) != IPP_TAG_BEGIN_COLLECTION;
    for (int i = 0; !changes && i < ippGetCount(overrides); ++i) {
        ipp_t* col = ippGetCollection(overrides, i);
        for (ipp_attribute_t* member = ippFirstAttribute(col); member != nullptr; member = ippNextAttribute(col)) {
            const std::string_view name = ippGetName(member) != nullptr ? ippGetName(member) : "";
            if (name != "pages" && name != "document-number") changes = true;
        }
    }
    if (!changes) return std::nullopt;
    return Refusal{IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES,
                   "Every page prints with the job's own settings: overrides may hold only pages and document-number",
                   {overrides}};
}

bool PrintableContent(std::string_view head)
{
    auto starts = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    return starts("%PDF") || starts("\xff\xd8\xff") || starts("\x89PNG") || starts("RaS2PwgR") ||
           starts("UNIRAST");
}

std::string DeviceProblem(const char* uri, const char* deviceId, const std::vector<std::string>& folders)
{
    const std::string_view device = uri != nullptr ? uri : "";
    if (HasControl(device) || device.size() > 1023) return "the device URI holds a control character or is too long";
    if (deviceId != nullptr && (HasControl(deviceId) || std::strlen(deviceId) > 1023))
        return "the device ID holds a control character or is too long";
    if (!device.starts_with("file:")) return "";
    char scheme[32], userpass[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, std::string(device).c_str(), scheme, sizeof scheme, userpass,
                        sizeof userpass, host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
        return "the device URI cannot be read";
    if (char* query = std::strchr(resource, '?')) *query = '\0';
    // Symbolic links and ".." resolved as far as the path exists.
    std::error_code error;
    const std::filesystem::path path = std::filesystem::weakly_canonical(resource, error);
    if (!error && std::filesystem::path(resource).is_absolute())
        for (const std::string& folder : folders) {
            const std::filesystem::path allowed = std::filesystem::weakly_canonical(folder, error);
            if (!error && inside(path, allowed)) return "";
        }
    std::string list;
    for (const std::string& folder : folders) list += (list.empty() ? "" : ", ") + folder;
    return "file: devices must be inside " + (list.empty() ? std::string("a folder allowed by file-device-folder") : list) +
           " (server option file-device-folder)";
}

}  // namespace pdftopjl::app
