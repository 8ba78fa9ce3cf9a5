// SPDX-License-Identifier: Apache-2.0
#include "printer_settings.hpp"

#include "access.hpp"

#include "models.hpp"
#include "request_checks.hpp"

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace pdftopjl::app {

namespace {

struct Options {
    int count = 0;
    cups_option_t* list = nullptr;
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    ~Options() { cupsFreeOptions(count, list); }
    void add(const std::string& name, const std::string& value)
    {
        count = cupsAddOption(name.c_str(), value.c_str(), count, &list);
    }
};

template <typename T>
struct Keyword {
    const char* name;
    T value;
};

constexpr Keyword<pappl_sides_t> kSides[] = {
    {"one-sided", PAPPL_SIDES_ONE_SIDED},
    {"two-sided-long-edge", PAPPL_SIDES_TWO_SIDED_LONG_EDGE},
    {"two-sided-short-edge", PAPPL_SIDES_TWO_SIDED_SHORT_EDGE},
};
constexpr Keyword<pappl_color_mode_t> kColorModes[] = {
    {"auto", PAPPL_COLOR_MODE_AUTO},
    {"auto-monochrome", PAPPL_COLOR_MODE_AUTO_MONOCHROME},
    {"bi-level", PAPPL_COLOR_MODE_BI_LEVEL},
    {"color", PAPPL_COLOR_MODE_COLOR},
    {"monochrome", PAPPL_COLOR_MODE_MONOCHROME},
    {"process-monochrome", PAPPL_COLOR_MODE_PROCESS_MONOCHROME},
};
constexpr Keyword<pappl_scaling_t> kScalings[] = {
    {"auto", PAPPL_SCALING_AUTO}, {"auto-fit", PAPPL_SCALING_AUTO_FIT}, {"fill", PAPPL_SCALING_FILL},
    {"fit", PAPPL_SCALING_FIT},   {"none", PAPPL_SCALING_NONE},
};

template <typename T, std::size_t N>
std::optional<T> lookup(const Keyword<T> (&table)[N], const std::string& value, unsigned supported = ~0u)
{
    for (const auto& entry : table)
        if (value == entry.name && (static_cast<unsigned>(entry.value) & supported) != 0) return entry.value;
    return std::nullopt;
}

template <typename T, std::size_t N>
std::string names(const Keyword<T> (&table)[N], unsigned supported = ~0u)
{
    std::string out;
    for (const auto& entry : table)
        if ((static_cast<unsigned>(entry.value) & supported) != 0) out += (out.empty() ? "" : ", ") + std::string(entry.name);
    return out;
}

std::string joined(const char* const* values, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) out += (i ? ", " : "") + std::string(values[i]);
    return out;
}

int indexOf(const char* const* values, int count, const std::string& value)
{
    for (int i = 0; i < count; ++i)
        if (value == values[i]) return i;
    return -1;
}

// An enum keyword or its number, within [low, high].
std::optional<int> enumValue(const char* attribute, const std::string& value, int low, int high)
{
    int number = ippEnumValue(attribute, value.c_str());
    if (number == 0 && !value.empty() && value.find_first_not_of("0123456789") == std::string::npos)
        number = std::atoi(value.c_str());
    if (number < low || number > high) return std::nullopt;
    return number;
}

std::string enumNames(const char* attribute, int low, int high)
{
    std::string out;
    for (int i = low; i <= high; ++i) out += (i > low ? ", " : "") + std::string(ippEnumString(attribute, i));
    return out;
}

// A vendor default checked against its -supported attribute; the value as
// PAPPL stores it.
std::optional<std::string> vendorValue(ipp_t* attrs, const std::string& name, const std::string& value,
                                       std::string* allowed)
{
    ipp_attribute_t* supported = ippFindAttribute(attrs, (name + "-supported").c_str(), IPP_TAG_ZERO);
    if (supported == nullptr) {
        // Free text (an account): one printable line.
        *allowed = "text of up to 64 printable characters";
        if (value.size() > 64 || HasControl(value)) return std::nullopt;
        return value;
    }
    switch (ippGetValueTag(supported)) {
    case IPP_TAG_BOOLEAN:
        *allowed = "true, false";
        if (value == "true" || value == "on" || value == "yes") return "true";
        if (value == "false" || value == "off" || value == "no") return "false";
        return std::nullopt;
    case IPP_TAG_INTEGER:
        for (int i = 0; i < ippGetCount(supported); ++i) {
            const std::string number = std::to_string(ippGetInteger(supported, i));
            *allowed += (i ? ", " : "") + number;
            if (number == value) return value;
        }
        return std::nullopt;
    default:
        for (int i = 0; i < ippGetCount(supported); ++i) {
            const char* keyword = ippGetString(supported, i, nullptr);
            *allowed += (i ? ", " : "") + std::string(keyword);
            if (value == keyword) return value;
        }
        return std::nullopt;
    }
}

struct Descriptive {
    std::optional<std::string> location, geoLocation, organization, organizationalUnit;
    bool readyMedia = false;  // the paper loaded in the trays changed
};

// The setting applied to `data`, `vendor` or `info`; else why not.
std::string applyOne(const std::string& given, const std::string& value, pappl_pr_driver_data_t& data,
                     ipp_t* attrs, Options& vendor, Descriptive& info)
{
    std::string name = given;
    if (name.size() > 8 && name.ends_with("-default")) name.resize(name.size() - 8);
    auto refuse = [&](const std::string& allowed) {
        return given + ": '" + value + "' is not one of " + allowed;
    };

    if (name == "printer-location" || name == "printer-organization" || name == "printer-organizational-unit") {
        if (value.size() > 127 || HasControl(value)) return given + ": up to 127 printable characters";
        (name == "printer-location" ? info.location
         : name == "printer-organization" ? info.organization
                                          : info.organizationalUnit) = value;
    } else if (name == "printer-geo-location") {
        float latitude = 0, longitude = 0;
        if (!value.empty() && (std::sscanf(value.c_str(), "geo:%f,%f", &latitude, &longitude) != 2 ||
                               latitude < -90 || latitude > 90 || longitude < -180 || longitude > 180))
            return given + ": '" + value + "' is not a geo: URI (geo:LATITUDE,LONGITUDE)";
        info.geoLocation = value;
    } else if (name == "media") {
        pwg_media_t* pwg = pwgMediaForPWG(value.c_str());
        if (pwg == nullptr || indexOf(data.media, data.num_media, value) < 0)
            return refuse(joined(data.media, data.num_media));
        papplCopyString(data.media_default.size_name, pwg->pwg, sizeof data.media_default.size_name);
        data.media_default.size_width = pwg->width;
        data.media_default.size_length = pwg->length;
    } else if (name == "media-ready") {
        // One size a tray, in the trays' order: "iso_a4_210x297mm,na_letter_8.5x11in".
        std::string rest = value;
        for (int i = 0; i < data.num_source && !rest.empty(); ++i) {
            const std::string size = rest.substr(0, rest.find(','));
            rest = rest.size() > size.size() ? rest.substr(size.size() + 1) : "";
            pwg_media_t* pwg = pwgMediaForPWG(size.c_str());
            if (pwg == nullptr || indexOf(data.media, data.num_media, size) < 0)
                return given + ": '" + size + "' is not one of " + joined(data.media, data.num_media);
            pappl_media_col_t& ready = data.media_ready[i];
            papplCopyString(ready.size_name, pwg->pwg, sizeof ready.size_name);
            ready.size_width = pwg->width;
            ready.size_length = pwg->length;
        }
        info.readyMedia = true;
    } else if (name == "media-source") {
        // "auto" leaves the tray to the printer.
        if (value != "auto" && indexOf(data.source, data.num_source, value) < 0)
            return refuse("auto, " + joined(data.source, data.num_source));
        papplCopyString(data.media_default.source, value.c_str(), sizeof data.media_default.source);
    } else if (name == "media-type") {
        // Empty: the job stream names no type.
        if (!value.empty() && indexOf(data.type, data.num_type, value) < 0)
            return refuse(joined(data.type, data.num_type));
        papplCopyString(data.media_default.type, value.c_str(), sizeof data.media_default.type);
    } else if (name == "sides") {
        auto sides = lookup(kSides, value, data.sides_supported);
        if (!sides) return refuse(names(kSides, data.sides_supported));
        data.sides_default = *sides;
    } else if (name == "print-color-mode") {
        auto mode = lookup(kColorModes, value, data.color_supported);
        if (!mode) return refuse(names(kColorModes, data.color_supported));
        data.color_default = *mode;
    } else if (name == "print-scaling") {
        auto scaling = lookup(kScalings, value);
        if (!scaling) return refuse(names(kScalings));
        data.scaling_default = *scaling;
    } else if (name == "print-quality") {
        auto quality = enumValue("print-quality", value, IPP_QUALITY_DRAFT, IPP_QUALITY_HIGH);
        if (!quality) return refuse(enumNames("print-quality", IPP_QUALITY_DRAFT, IPP_QUALITY_HIGH));
        data.quality_default = static_cast<ipp_quality_t>(*quality);
    } else if (name == "orientation-requested") {
        auto orientation = enumValue("orientation-requested", value, IPP_ORIENT_PORTRAIT, IPP_ORIENT_NONE);
        if (!orientation) return refuse(enumNames("orientation-requested", IPP_ORIENT_PORTRAIT, IPP_ORIENT_NONE));
        data.orient_default = static_cast<ipp_orient_t>(*orientation);
    } else if (name == "output-bin") {
        const int bin = indexOf(data.bin, data.num_bin, value);
        if (bin < 0) return refuse(joined(data.bin, data.num_bin));
        data.bin_default = bin;
    } else if (name == "printer-resolution" || name == "print-content-optimize") {
        return given + ": not used by this printer, which prints each document as it is";
    } else if (indexOf(data.vendor, data.num_vendor, name) >= 0) {
        std::string allowed;
        auto stored = vendorValue(attrs, name, value, &allowed);
        if (!stored) return refuse(allowed);
        vendor.add(name, *stored);
    } else {
        return given + ": not a setting of this printer";
    }
    return "";
}

// The settings applied to a copy of the printer's defaults.
struct Prepared {
    pappl_pr_driver_data_t data;
    IppPtr attrs;
    Options vendor;
    Descriptive info;
    bool defaults = false;
};

bool prepare(pappl_printer_t* printer, const std::vector<Setting>& settings, Prepared& out, std::string* error)
{
    papplPrinterGetDriverData(printer, &out.data);
    out.attrs.reset(papplPrinterGetDriverAttributes(printer));
    for (const auto& [name, value] : settings) {
        *error = applyOne(name, value, out.data, out.attrs.get(), out.vendor, out.info);
        if (!error->empty()) return false;
        out.defaults = out.defaults || !(name.starts_with("printer-location") ||
                                         name.starts_with("printer-geo-location") ||
                                         name.starts_with("printer-organization") || name == "media-ready");
    }
    return true;
}

// The printer's vendor defaults as papplPrinterSetDriverDefaults takes them.
void vendorDefaults(pappl_printer_t* printer, const pappl_pr_driver_data_t& data, Options& vendor)
{
    IppPtr attrs(papplPrinterGetDriverAttributes(printer));
    for (int i = 0; i < data.num_vendor; ++i) vendor.add(data.vendor[i], DefaultText(attrs.get(), data.vendor[i]));
}

// papplPrinterSetDriverDefaults leaves the orientation out: it goes in
// with the whole driver data, which also makes the printer's attributes
// again (the vendor defaults are set again after).
bool setOrientation(pappl_printer_t* printer, pappl_pr_driver_data_t& data)
{
    const Model* model = FindModel(papplPrinterGetDriverName(printer));
    if (model == nullptr) return false;
    pappl_pr_driver_data_t fresh;
    ipp_t* extra = nullptr;
    FillDriverData(*model, &fresh, &extra);
    IppPtr attrs(extra);
    Options vendor;
    vendorDefaults(printer, data, vendor);
    return papplPrinterSetDriverData(printer, &data, attrs.get()) &&
           papplPrinterSetDriverDefaults(printer, &data, vendor.count, vendor.list);
}

}  // namespace

std::string DefaultText(ipp_t* attrs, const std::string& name)
{
    char value[1024] = "";
    if (ipp_attribute_t* attr = ippFindAttribute(attrs, (name + "-default").c_str(), IPP_TAG_ZERO))
        ippAttributeString(attr, value, sizeof value);
    return value;
}

bool CheckSettings(pappl_printer_t* printer, const std::vector<Setting>& settings, std::string* error)
{
    Prepared prepared;
    return prepare(printer, settings, prepared, error);
}

bool ApplySettings(pappl_printer_t* printer, const std::vector<Setting>& settings, std::string* error)
{
    Prepared p;
    if (!prepare(printer, settings, p, error)) return false;
    pappl_pr_driver_data_t current;
    papplPrinterGetDriverData(printer, &current);
    if (p.data.orient_default != current.orient_default && !setOrientation(printer, p.data)) {
        *error = "orientation-requested-default: the printer did not take it (see the log)";
        return false;
    }
    if (p.defaults && !papplPrinterSetDriverDefaults(printer, &p.data, p.vendor.count, p.vendor.list)) {
        *error = "The printer did not take these defaults (see the log)";
        return false;
    }
    if (p.info.readyMedia && !papplPrinterSetReadyMedia(printer, p.data.num_source, p.data.media_ready)) {
        *error = "media-ready: the printer did not take it (see the log)";
        return false;
    }
    if (p.info.location) papplPrinterSetLocation(printer, p.info.location->c_str());
    if (p.info.geoLocation) papplPrinterSetGeoLocation(printer, p.info.geoLocation->c_str());
    if (p.info.organization) papplPrinterSetOrganization(printer, p.info.organization->c_str());
    if (p.info.organizationalUnit) papplPrinterSetOrganizationalUnit(printer, p.info.organizationalUnit->c_str());
    return true;
}

namespace {

// PAPPL 1.3 cannot change a printer's device: the printer is made again
// under the same name and number, with the same defaults, media, location
// and job numbering.  Completed jobs are not kept.
pappl_printer_t* changeDevice(pappl_printer_t* printer, const std::string& uri, std::string* error)
{
    if (!papplDeviceIsSupported(uri.c_str())) {
        *error = "device-uri: '" + uri + "' is not a device this application can print to (socket://, usb://, file://)";
        return nullptr;
    }
    if (const int active = papplPrinterGetNumberOfActiveJobs(printer); active > 0) {
        *error = "The printer has " + std::to_string(active) +
                 " job(s) waiting or printing; change its device when they have ended or been cancelled";
        return nullptr;
    }
    pappl_system_t* system = papplPrinterGetSystem(printer);
    const std::string name = papplPrinterGetName(printer);
    const std::string driver = papplPrinterGetDriverName(printer);
    const std::string deviceId = papplPrinterGetDeviceID(printer) ? papplPrinterGetDeviceID(printer) : "";
    // Refused before the printer is taken down, so it keeps working as it was.
    if (const std::string problem = DeviceRefusal(uri.c_str(), deviceId.c_str()); !problem.empty()) {
        *error = "device-uri: " + problem;
        return nullptr;
    }
    const int id = papplPrinterGetID(printer);
    const int nextJob = papplPrinterGetNextJobID(printer);
    const bool wasDefault = papplSystemGetDefaultPrinterID(system) == id;
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    Options vendor;
    vendorDefaults(printer, data, vendor);
    char text[4][1024];
    papplPrinterGetLocation(printer, text[0], sizeof text[0]);
    papplPrinterGetGeoLocation(printer, text[1], sizeof text[1]);
    papplPrinterGetOrganization(printer, text[2], sizeof text[2]);
    papplPrinterGetOrganizationalUnit(printer, text[3], sizeof text[3]);
    pappl_contact_t contact;
    papplPrinterGetContact(printer, &contact);
    const int maxActive = papplPrinterGetMaxActiveJobs(printer);
    const int maxCompleted = papplPrinterGetMaxCompletedJobs(printer);
    const std::string oldUri = papplPrinterGetDeviceURI(printer);

    papplPrinterDelete(printer);
    pappl_printer_t* made =
        papplPrinterCreate(system, id, name.c_str(), driver.c_str(), deviceId.c_str(), uri.c_str());
    if (made == nullptr) {
        *error = "device-uri: the printer could not be made with '" + uri + "'; it keeps " + oldUri;
        made = papplPrinterCreate(system, id, name.c_str(), driver.c_str(), deviceId.c_str(), oldUri.c_str());
        if (made == nullptr) return nullptr;
    }
    papplPrinterSetDriverDefaults(made, &data, vendor.count, vendor.list);
    pappl_pr_driver_data_t fresh;
    papplPrinterGetDriverData(made, &fresh);
    if (fresh.orient_default != data.orient_default) setOrientation(made, data);
    papplPrinterSetReadyMedia(made, data.num_source, data.media_ready);
    papplPrinterSetLocation(made, text[0]);
    if (text[1][0] != '\0') papplPrinterSetGeoLocation(made, text[1]);
    papplPrinterSetOrganization(made, text[2]);
    papplPrinterSetOrganizationalUnit(made, text[3]);
    papplPrinterSetContact(made, &contact);
    papplPrinterSetMaxActiveJobs(made, maxActive);
    papplPrinterSetMaxCompletedJobs(made, maxCompleted);
    papplPrinterSetNextJobID(made, nextJob);
    if (wasDefault) papplSystemSetDefaultPrinterID(system, id);
    return error->empty() ? made : nullptr;
}

pappl_printer_t* printerNamed(pappl_system_t* system, const char* name)
{
    struct Search {
        const char* name;
        pappl_printer_t* found = nullptr;
    } search{name};
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t* printer, void* data) {
            auto* s = static_cast<Search*>(data);
            if (std::strcmp(papplPrinterGetName(printer), s->name) == 0) s->found = printer;
        },
        &search);
    return search.found;
}

bool modifyPrinter(pappl_client_t* client)
{
    if (const http_status_t status = papplClientIsAuthorized(client); status != HTTP_STATUS_CONTINUE) {
        papplClientRespond(client, status, nullptr, nullptr, 0, 0);
        return true;
    }
    ipp_t* request = papplClientGetRequest(client);
    const char* name = ippGetString(ippFindAttribute(request, "printer-name", IPP_TAG_NAME), 0, nullptr);
    pappl_printer_t* printer = name ? printerNamed(papplClientGetSystem(client), name) : nullptr;
    if (printer == nullptr) {
        papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_FOUND, "There is no printer named '%s'.", name ? name : "");
        return true;
    }
    std::vector<Setting> settings;
    std::string uri;
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr; attr = ippNextAttribute(request)) {
        if (ippGetGroupTag(attr) != IPP_TAG_PRINTER || ippGetName(attr) == nullptr) continue;
        const char* value = ippGetString(attr, 0, nullptr);
        if (std::strcmp(ippGetName(attr), "device-uri") == 0)
            uri = value ? value : "";
        else
            settings.emplace_back(ippGetName(attr), value ? value : "");
    }
    // Everything is checked before the device changes.
    std::string error;
    if (!CheckSettings(printer, settings, &error)) {
        papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s", error.c_str());
        return true;
    }
    if (!uri.empty() && uri != papplPrinterGetDeviceURI(printer)) {
        if ((printer = changeDevice(printer, uri, &error)) == nullptr) {
            papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_POSSIBLE, "%s", error.c_str());
            return true;
        }
    }
    if (!ApplySettings(printer, settings, &error)) {
        papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s", error.c_str());
        return true;
    }
    papplClientRespondIPP(client, IPP_STATUS_OK, nullptr);
    return true;
}

}  // namespace

void TakeOverSetPrinterAttributes(pappl_client_t* client)
{
    ipp_t* request = papplClientGetRequest(client);
    pappl_printer_t* printer = papplClientGetPrinter(client);
    if (request == nullptr || printer == nullptr || ippGetOperation(request) != IPP_OP_SET_PRINTER_ATTRIBUTES) return;
    static const char* const mishandled[] = {"sides-default", "print-scaling-default", "output-bin-default",
                                             "orientation-requested-default",
                                             "printer-location", "printer-organization",
                                             "printer-organizational-unit"};
    std::vector<Setting> settings;
    bool needed = false;
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr; attr = ippNextAttribute(request)) {
        const char* name = ippGetName(attr);
        if (ippGetGroupTag(attr) != IPP_TAG_PRINTER || name == nullptr) continue;
        for (const char* m : mishandled) needed = needed || std::strcmp(name, m) == 0;
        if (std::strcmp(name, "media-col-default") == 0) {
            // The members clients send, as separate settings.
            ipp_t* col = ippGetCollection(attr, 0);
            for (ipp_attribute_t* member = ippFirstAttribute(col); member; member = ippNextAttribute(col)) {
                const std::string member_name = ippGetName(member) ? ippGetName(member) : "";
                if (member_name == "media-source" || member_name == "media-type") {
                    settings.emplace_back(member_name, ippGetString(member, 0, nullptr));
                } else if (member_name == "media-size-name") {
                    settings.emplace_back("media", ippGetString(member, 0, nullptr));
                } else if (member_name == "media-size") {
                    ipp_t* size = ippGetCollection(member, 0);
                    pwg_media_t* pwg = pwgMediaForSize(
                        ippGetInteger(ippFindAttribute(size, "x-dimension", IPP_TAG_INTEGER), 0),
                        ippGetInteger(ippFindAttribute(size, "y-dimension", IPP_TAG_INTEGER), 0));
                    settings.emplace_back("media", pwg != nullptr ? pwg->pwg : "");
                }
            }
            continue;
        }
        char value[1024];
        ippAttributeString(attr, value, sizeof value);
        settings.emplace_back(name, value);
    }
    std::string error;
    if (!needed) return;
    if (!ApplySettings(printer, settings, &error)) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Set-Printer-Attributes: %s", error.c_str());
        return;
    }
    // PAPPL then answers an empty request with success.
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr;) {
        ipp_attribute_t* next = ippNextAttribute(request);
        if (ippGetGroupTag(attr) == IPP_TAG_PRINTER) ippDeleteAttribute(request, attr);
        attr = next;
    }
}

void InstallAdminOperations(pappl_system_t* system)
{
    papplSystemSetOperationCallback(
        system,
        [](pappl_client_t* client, void*) {
            return papplClientGetOperation(client) == kOpModifyPrinter && modifyPrinter(client);
        },
        nullptr);
}

}  // namespace pdftopjl::app
