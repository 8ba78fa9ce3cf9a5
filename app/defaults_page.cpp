// SPDX-License-Identifier: Apache-2.0
#include "defaults_page.hpp"

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "models.hpp"
#include "printer_settings.hpp"

namespace pdftopjl::app {

namespace {

enum class Kind { Choice, Check, Text };

// One line of the form: its setting, label, current value and choices.
struct Field {
    Field(std::string n, std::string l, std::string c) : name(std::move(n)), label(std::move(l)), current(std::move(c)) {}
    std::string name;
    std::string label;
    std::string current;
    Kind kind = Kind::Choice;
    std::vector<std::pair<std::string, std::string>> choices;  // value, label
};

struct Label {
    const char* keyword;
    const char* text;
};

// Keywords whose words alone read badly.
constexpr Label kLabels[] = {
    {"auto", "Automatic"},
    {"by-pass-tray", "Bypass tray"},
    {"one-sided", "Off"},
    {"two-sided-long-edge", "Long edge (book)"},
    {"two-sided-short-edge", "Short edge (tablet)"},
    {"color", "Colour"},
    {"monochrome", "Black and white"},
    {"stationery", "Plain paper"},
    {"stationery-recycled", "Recycled paper"},
    {"none", "None"},
    {"auto-fit", "Fit if too large"},
    {"fill", "Fill the page"},
    {"fit", "Fit to the page"},
    {"stored", "Stored job"},
    {"proof", "Proof copy"},
    {"reverse-landscape", "Reverse landscape"},
    {"reverse-portrait", "Reverse portrait"},
    {"face-down", "Face down"},
    {"face-up", "Face up"},
};

// "staple-dual-left" reads "Staple dual left".
std::string labelOf(const std::string& keyword)
{
    for (const Label& label : kLabels)
        if (keyword == label.keyword) return label.text;
    std::string text = keyword;
    for (char& c : text)
        if (c == '-' || c == '_') c = ' ';
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::string mediaLabel(const char* pwgName)
{
    pwg_media_t* pwg = pwgMediaForPWG(pwgName);
    return pwg != nullptr && pwg->ppd != nullptr ? pwg->ppd : pwgName;
}

Field choice(std::string name, std::string label, std::string current, const char* const* values, int count)
{
    Field field{std::move(name), std::move(label), std::move(current)};
    for (int i = 0; i < count; ++i) field.choices.emplace_back(values[i], labelOf(values[i]));
    return field;
}

// The form's fields, from the printer's current defaults.
std::vector<Field> fieldsOf(pappl_printer_t* printer)
{
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    IppPtr attrs(papplPrinterGetDriverAttributes(printer));
    auto supported = [&](const std::string& name) {
        std::vector<std::string> values;
        ipp_attribute_t* attr = ippFindAttribute(attrs.get(), (name + "-supported").c_str(), IPP_TAG_ZERO);
        for (int i = 0; i < ippGetCount(attr); ++i) {
            values.push_back(ippGetValueTag(attr) == IPP_TAG_INTEGER ? std::to_string(ippGetInteger(attr, i))
                                                                     : std::string(ippGetString(attr, i, nullptr)));
        }
        return values;
    };

    std::vector<Field> fields;
    Field media{"media", "Paper size", data.media_default.size_name};
    for (int i = 0; i < data.num_media; ++i) media.choices.emplace_back(data.media[i], mediaLabel(data.media[i]));
    fields.push_back(media);
    Field source = choice("media-source", "Paper source", data.media_default.source, data.source, data.num_source);
    source.choices.insert(source.choices.begin(), {"auto", labelOf("auto")});
    if (source.current.empty()) source.current = "auto";
    fields.push_back(source);
    Field type = choice("media-type", "Paper type", data.media_default.type, data.type, data.num_type);
    type.choices.insert(type.choices.begin(), {"", "Printer's own"});
    fields.push_back(type);

    // Only what the model can do: a printer without duplex or colour offers
    // one choice.
    const char* sides[] = {"one-sided", "two-sided-long-edge", "two-sided-short-edge"};
    const bool duplex = (data.sides_supported & PAPPL_SIDES_TWO_SIDED_LONG_EDGE) != 0;
    fields.push_back(choice("sides", "Two-sided", sides[data.sides_default == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? 1
                                                        : data.sides_default == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? 2
                                                                                                                 : 0],
                            sides, duplex ? 3 : 1));
    const char* colors[] = {"color", "monochrome"};
    const bool colour = (data.color_supported & PAPPL_COLOR_MODE_COLOR) != 0;
    fields.push_back(choice("print-color-mode", "Colour",
                            colors[!colour || data.color_default == PAPPL_COLOR_MODE_MONOCHROME],
                            colour ? colors : colors + 1, colour ? 2 : 1));
    const char* qualities[] = {"draft", "normal", "high"};
    fields.push_back(choice("print-quality", "Quality",
                            ippEnumString("print-quality", static_cast<int>(data.quality_default)), qualities, 3));
    const char* orientations[] = {"portrait", "landscape", "reverse-landscape", "reverse-portrait", "none"};
    Field orientation = choice("orientation-requested", "Orientation",
                               ippEnumString("orientation-requested", static_cast<int>(data.orient_default)),
                               orientations, 5);
    orientation.choices.back().second = "As the document is";
    fields.push_back(orientation);
    const char* scalings[] = {"auto", "auto-fit", "fit", "fill", "none"};
    const char* scaling = data.scaling_default == PAPPL_SCALING_AUTO_FIT ? "auto-fit"
                          : data.scaling_default == PAPPL_SCALING_FIT    ? "fit"
                          : data.scaling_default == PAPPL_SCALING_FILL   ? "fill"
                          : data.scaling_default == PAPPL_SCALING_NONE   ? "none"
                                                                         : "auto";
    fields.push_back(choice("print-scaling", "Scaling", scaling, scalings, 5));
    fields.push_back(choice("output-bin", "Output tray", data.num_bin > 0 ? data.bin[data.bin_default] : "",
                            data.bin, data.num_bin));

    // The printer's own options, by their labels.
    const Label vendorLabels[] = {
        {kFinishingPreset, "Staple / punch"}, {kPrintType, "Print type"},
        {kBypassFeedEdge, "Bypass tray feed edge"}, {kTurnPage, "Rotate 180 degrees"},
        {kPrintAsImage, "Print as image"},      {kNumberUp, "Pages per sheet"},
        {kAccountId, "Account"},
    };
    for (const Label& vendor : vendorLabels) {
        Field field{vendor.keyword, vendor.text, DefaultText(attrs.get(), vendor.keyword)};
        ipp_attribute_t* values = ippFindAttribute(attrs.get(), (field.name + "-supported").c_str(), IPP_TAG_ZERO);
        if (values == nullptr) field.kind = Kind::Text;
        else if (ippGetValueTag(values) == IPP_TAG_BOOLEAN) field.kind = Kind::Check;
        else
            for (const std::string& value : supported(field.name))
                field.choices.emplace_back(value, field.name == kNumberUp ? value : labelOf(value));
        fields.push_back(field);
    }
    return fields;
}

void escaped(pappl_client_t* client, const std::string& text) { papplClientHTMLEscape(client, text.c_str(), 0); }

void render(pappl_client_t* client, const std::vector<Field>& fields)
{
    papplClientHTMLPuts(client, "          <table class=\"form\">\n            <tbody>\n");
    for (const Field& field : fields) {
        papplClientHTMLPuts(client, "              <tr><th>");
        escaped(client, field.label);
        papplClientHTMLPrintf(client, ":</th><td>");
        if (field.kind == Kind::Check) {
            papplClientHTMLPrintf(client, "<input type=\"checkbox\" name=\"%s\"%s>", field.name.c_str(),
                                  field.current == "true" ? " checked" : "");
        } else if (field.kind == Kind::Text) {
            papplClientHTMLPrintf(client, "<input type=\"text\" name=\"%s\" maxlength=\"64\" value=\"", field.name.c_str());
            escaped(client, field.current);
            papplClientHTMLPuts(client, "\">");
        } else {
            papplClientHTMLPrintf(client, "<select name=\"%s\">", field.name.c_str());
            for (const auto& [value, label] : field.choices) {
                papplClientHTMLPrintf(client, "<option value=\"%s\"%s>", value.c_str(),
                                      value == field.current ? " selected" : "");
                escaped(client, label);
                papplClientHTMLPuts(client, "</option>");
            }
            papplClientHTMLPuts(client, "</select>");
        }
        papplClientHTMLPuts(client, "</td></tr>\n");
    }
    papplClientHTMLPuts(client, "              <tr><th></th><td><input type=\"submit\" value=\"Save Changes\"></td></tr>\n"
                                "            </tbody>\n          </table>        </form>\n");
}

// What the form changed: only the fields whose value differs.
std::string save(pappl_client_t* client, pappl_printer_t* printer)
{
    cups_option_t* form = nullptr;
    const int count = papplClientGetForm(client, &form);
    std::string status;
    if (count == 0) {
        status = "Invalid form data.";
    } else if (!papplClientIsValidForm(client, count, form)) {
        status = "Invalid form submission.";
    } else {
        std::vector<Setting> changed;
        for (const Field& field : fieldsOf(printer)) {
            const char* sent = cupsGetOption(field.name.c_str(), count, form);
            std::string value = sent != nullptr ? sent : "";
            if (field.kind == Kind::Check) value = sent != nullptr ? "true" : "false";
            else if (sent == nullptr) continue;
            if (value != field.current) changed.emplace_back(field.name, value);
        }
        std::string error;
        status = changed.empty() ? "Nothing was changed." : ApplySettings(printer, changed, &error) ? "Changes saved." : error;
    }
    cupsFreeOptions(count, form);
    return status;
}

bool defaultsPage(pappl_client_t* client, void* data)
{
    auto* printer = static_cast<pappl_printer_t*>(data);
    if (!papplClientHTMLAuthorize(client)) return true;
    std::string status;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) status = save(client, printer);
    papplClientHTMLPrinterHeader(client, printer, "Printing Defaults", 0, nullptr, nullptr);
    if (!status.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\">");
        escaped(client, status);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    render(client, fieldsOf(printer));
    papplClientHTMLPrinterFooter(client);
    return true;
}

}  // namespace

void AddDefaultsPage(pappl_printer_t* printer)
{
    // PAPPL adds its own page after this callback; the first one registered
    // under a path is the one served.
    char path[1024];
    papplPrinterGetPath(printer, "printing", path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html",
                                   defaultsPage, printer);
}

}  // namespace pdftopjl::app
