#include "driver/prefilter.hpp"

#include <regex.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "driver/output.hpp"
#include "driver/platform.hpp"
#include "settings/ppd.hpp"

const ConversionTable cupsDirectory[4] = {
    {"CUPS_DATADIR", platform::kDefaultCupsDataDir, "mime/", platform::kVendorConversionTable},
    {"CUPS_DATADIR", platform::kDefaultCupsDataDir, "mime/", "mime.convs"},
    {"CUPS_SERVERROOT", platform::kDefaultCupsServerRoot, "", platform::kVendorConversionTable},
    {"CUPS_SERVERROOT", platform::kDefaultCupsServerRoot, "", "mime.convs"},
};

const char* const mimeTypeFormat[1] = {platform::kLayoutDestinationType};

const char RegexPattern[] =
    "([a-z]+/[a-zA-Z_0-9!#$&.+-^*]+)[ \t\f\r\n]+([a-z]+/[a-zA-Z_0-9!#$&.+-^*]+)[ \t\f\r\n]+"
    "([0-9]+)+[ \t\f\r\n]+([^ \t\f\r\n]+)";

namespace {

constexpr size_t kTypeSize = 32;
constexpr size_t kTablePathSize = 64;
constexpr size_t kLineSize = 128;
constexpr int kCostLimit = 1000;

// Writes the concatenation into dst only when all of it fits with its
// terminating zero; otherwise dst is left as it was.
bool joinBounded(char* dst, size_t size, std::initializer_list<std::string_view> parts)
{
    size_t total = 0;
    for (std::string_view part : parts) total += part.size();
    if (total >= size) return false;
    char* at = dst;
    for (std::string_view part : parts) {
        if (part.empty()) continue;  // an empty view may hold no pointer at all
        std::memcpy(at, part.data(), part.size());
        at += part.size();
    }
    std::memset(at, 0, size - total);
    return true;
}

// The first space-separated token; tabs belong to the token.
std::string_view firstToken(std::string_view value)
{
    const size_t start = value.find_first_not_of(' ');
    if (start == std::string_view::npos) return {};
    value.remove_prefix(start);
    return value.substr(0, value.find(' '));
}

// Digits only, as the pattern guarantees; any length without overflow.
bool costBelowLimit(std::string_view digits)
{
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string_view::npos) return true;
    digits.remove_prefix(first);
    if (digits.size() > 3) return false;
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value < kCostLimit;
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

class CompiledPattern {
public:
    CompiledPattern() { ok_ = regcomp(&regex_, RegexPattern, REG_EXTENDED | REG_NEWLINE) == 0; }
    ~CompiledPattern()
    {
        if (ok_) regfree(&regex_);
    }
    CompiledPattern(const CompiledPattern&) = delete;
    CompiledPattern& operator=(const CompiledPattern&) = delete;

    bool ok() const { return ok_; }
    const regex_t* get() const { return &regex_; }

private:
    regex_t regex_;
    bool ok_ = false;
};

}  // namespace

int BestFilter(const char* tablePath, const char* srcFormat, const char* dstFormat,
               char* programName, size_t size)
{
    std::unique_ptr<FILE, FileCloser> table(std::fopen(tablePath, "r"));
    if (!table) return 0;
    CompiledPattern pattern;
    if (!pattern.ok()) return 0;

    // A line longer than the buffer is examined piece by piece.
    char line[kLineSize];
    while (std::fgets(line, sizeof line, table.get()) != nullptr) {
        regmatch_t match[5];
        if (regexec(pattern.get(), line, 5, match, 0) != 0) continue;
        std::string_view group[4];
        for (int g = 0; g < 4; ++g) {
            if (match[g + 1].rm_so < 0) break;
            group[g] = std::string_view(line + match[g + 1].rm_so,
                                        static_cast<size_t>(match[g + 1].rm_eo - match[g + 1].rm_so));
        }
        if (group[0] != srcFormat || group[1] != dstFormat || !costBelowLimit(group[2])) continue;
        // The first acceptable line decides, even when its name cannot be used.
        return joinBounded(programName, size, {group[3]}) ? 1 : -1;
    }
    return 0;
}

void ChooseFilter(const char* srcFormat, char* prefilterPath, size_t size)
{
    char programName[kProgramNameSize] = {0};
    char tablePath[kTablePathSize] = {0};
    char dstFormat[kTypeSize] = {0};

    if (srcFormat[0] == '\0') {
        Utlfputs("get srcFormat error\n", stderr);
        return;
    }
    // A printer that already takes the layout filter's output type has no
    // conversion to it.
    if (std::strcmp(srcFormat, mimeTypeFormat[0]) == 0) return;
    if (!joinBounded(dstFormat, sizeof dstFormat, {mimeTypeFormat[0]})) return;

    int found = 0;
    for (const ConversionTable& entry : cupsDirectory) {
        const char* root = platform::CupsDirectory(entry.rootVariable, entry.rootDefault);
        if (!joinBounded(tablePath, sizeof tablePath, {root, "/", entry.directory, entry.name}))
            return;
        found = BestFilter(tablePath, srcFormat, dstFormat, programName, sizeof programName);
        if (found != 0) break;
    }
    if (found != 1) return;

    const char* serverBin = platform::CupsDirectory("CUPS_SERVERBIN", platform::kDefaultCupsServerBin);
    joinBounded(prefilterPath, size, {serverBin, "/filter/", programName});
}

int PrepFormat(char* prefilterPath, size_t size)
{
    char srcFormat[kTypeSize] = {0};

    {
        PpdHandle ppd = OpenJobPPD();
        if (!ppd) {
            // Not through the output channel, as the printer's tools expect.
            std::fputs("ppdOpenFile return NULL\n", stderr);
            return -1;
        }
        ppd_attr_t* attr = ppdFindAttr_ALT(ppd.get(), "cupsFilter", nullptr);
        // Only the first token matters, so the value is read in place and a
        // long program path after it does no harm.  A token too long for the
        // field leaves the source type empty.
        if (attr != nullptr && attr->value != nullptr)
            joinBounded(srcFormat, sizeof srcFormat, {firstToken(attr->value)});
    }

    ChooseFilter(srcFormat, prefilterPath, size);

    if (prefilterPath[0] != '\0' && access(prefilterPath, F_OK) == 0) return 1;
    Utlfputs("access bestFilterPath error\n", stderr);
    return -1;
}

void ExecuteFilter(const char* prefilterPath, int argc, char* argv[])
{
    if (argc < 6) return;
    char* args[8];
    int count = 0;
    for (int i = 0; i < 6; ++i) args[count++] = argv[i];
    static char oneCopy[] = "1";
    if (!platform::kPreFilterMakesCopies) args[4] = oneCopy;
    if (argc >= 7) args[count++] = argv[6];
    args[count] = nullptr;
    execv(prefilterPath, args);
}
