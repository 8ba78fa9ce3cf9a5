// SPDX-License-Identifier: Apache-2.0
#include "core/prefilter.hpp"

#include <fcntl.h>
#include <poll.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "core/platform.hpp"
#include "job/log.hpp"

namespace pdftopjl {

const ConversionTable kConversionTables[4] = {
    {"CUPS_DATADIR", platform::kDefaultCupsDataDir, "mime/", platform::kVendorConversionTable},
    {"CUPS_DATADIR", platform::kDefaultCupsDataDir, "mime/", "mime.convs"},
    {"CUPS_SERVERROOT", platform::kDefaultCupsServerRoot, "", platform::kVendorConversionTable},
    {"CUPS_SERVERROOT", platform::kDefaultCupsServerRoot, "", "mime.convs"},
};

const char kConversionLinePattern[] =
    "([a-z]+/[a-zA-Z_0-9!#$&.+-^*]+)[ \t\f\r\n]+([a-z]+/[a-zA-Z_0-9!#$&.+-^*]+)[ \t\f\r\n]+"
    "([0-9]+)+[ \t\f\r\n]+([^ \t\f\r\n]+)";

namespace {

constexpr size_t kTypeSize = 32;
constexpr size_t kTablePathSize = 64;
constexpr int kCostLimit = 1000;

// The concatenation, when it fits a buffer of `size` bytes with its
// terminating zero.
std::optional<std::string> joinWithin(size_t size, std::initializer_list<std::string_view> parts)
{
    std::string joined;
    for (std::string_view part : parts) joined += part;
    if (joined.size() >= size) return std::nullopt;
    return joined;
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

// The line buffer getline grows, freed however the search ends.
struct LineBuffer {
    char* data = nullptr;
    size_t capacity = 0;
    ~LineBuffer() { std::free(data); }
};

class CompiledPattern {
public:
    CompiledPattern() { ok_ = regcomp(&regex_, kConversionLinePattern, REG_EXTENDED | REG_NEWLINE) == 0; }
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

TableAnswer BestFilter(const char* tablePath, std::string_view sourceType,
                       std::string_view destinationType, std::string* programName)
{
    // Never a blocking open: a FIFO planted at a table's path is no table.
    const int fd = open(tablePath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return TableAnswer::None;
    struct stat st;
    std::unique_ptr<FILE, FileCloser> table(
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "r") : nullptr);
    if (!table) {
        close(fd);
        return TableAnswer::None;
    }
    CompiledPattern pattern;
    if (!pattern.ok()) return TableAnswer::None;

    // Whole lines, however long, and no comment line, as cupsd reads the
    // tables: a piece of a line is never taken for a line of its own.
    LineBuffer buffer;
    while (getline(&buffer.data, &buffer.capacity, table.get()) >= 0) {
        const char* line = buffer.data;
        if (line[0] == '#') continue;
        regmatch_t match[5];
        if (regexec(pattern.get(), line, 5, match, 0) != 0) continue;
        std::string_view group[4];
        for (int g = 0; g < 4; ++g) {
            if (match[g + 1].rm_so < 0) break;
            group[g] = std::string_view(line + match[g + 1].rm_so,
                                        static_cast<size_t>(match[g + 1].rm_eo - match[g + 1].rm_so));
        }
        if (group[0] != sourceType || group[1] != destinationType || !costBelowLimit(group[2]))
            continue;
        // The first acceptable line decides, even when its name cannot be
        // used: too long, or a path that would lead out of the filter
        // directory.
        if (group[3].size() >= kProgramNameSize || group[3].find('/') != std::string_view::npos)
            return TableAnswer::UnusableName;
        *programName = std::string(group[3]);
        return TableAnswer::Found;
    }
    return TableAnswer::None;
}

std::optional<std::string> ChooseFilter(std::string_view sourceType)
{
    if (sourceType.empty()) return std::nullopt;
    const std::string_view destinationType = platform::kLayoutDestinationType;
    // A printer that already takes the layout filter's output type has no
    // conversion to it.
    if (sourceType == destinationType || destinationType.size() >= kTypeSize) return std::nullopt;

    std::string programName;
    TableAnswer answer = TableAnswer::None;
    for (const ConversionTable& entry : kConversionTables) {
        const char* root = platform::CupsDirectory(entry.rootVariable, entry.rootDefault);
        const auto tablePath = joinWithin(kTablePathSize, {root, "/", entry.directory, entry.name});
        if (!tablePath) return std::nullopt;
        answer = BestFilter(tablePath->c_str(), sourceType, destinationType, &programName);
        if (answer != TableAnswer::None) break;
    }
    if (answer != TableAnswer::Found) return std::nullopt;

    const char* serverBin = platform::CupsDirectory("CUPS_SERVERBIN", platform::kDefaultCupsServerBin);
    return joinWithin(kPrefilterPathSize, {serverBin, "/filter/", programName});
}

std::optional<std::string> FindLayoutPreFilter(const PrinterProfile& printer)
{
    if (!printer.described) {
        job::Log(job::Severity::Error,
                 "The printer's PPD cannot be read, and the job's layout options need it; "
                 "nothing was sent to the printer");
        // Not through the output channel, as the printer's tools expect.
        std::fputs("ppdOpenFile return NULL\n", stderr);
        return std::nullopt;
    }
    const std::string& sourceType = printer.filterInputType;
    if (sourceType.empty()) {
        job::Log(job::Severity::Error,
                 "The printer's PPD gives no input type in its cupsFilter line, so the job's "
                 "layout options cannot be applied; nothing was sent to the printer");
        job::LogHistorical("get srcFormat error");
        job::LogHistorical("access bestFilterPath error");
        return std::nullopt;
    }
    std::optional<std::string> path = ChooseFilter(sourceType);
    if (path && access(path->c_str(), F_OK) == 0) return path;
    if (path)
        job::Logf(job::Severity::Error,
                  "The layout filter %s is missing (install cups-filters); nothing was sent to "
                  "the printer",
                  path->c_str());
    else
        job::Logf(job::Severity::Error,
                  "No layout filter turns %s into %s in the CUPS conversion tables (install "
                  "cups-filters); nothing was sent to the printer",
                  sourceType.c_str(), platform::kLayoutDestinationType);
    job::LogHistorical("access bestFilterPath error");
    return std::nullopt;
}

namespace {

// Lines longer than this are cut; the kept errors are the latest few.
constexpr size_t kMessageLineMax = 2048;
constexpr size_t kKeptMessages = 16;

bool repeatedOnFailure(std::string_view line)
{
    for (std::string_view prefix : {"ERROR:", "WARNING:", "CRITICAL:", "ALERT:", "EMERG:"})
        if (line.starts_with(prefix)) return true;
    return false;
}

}  // namespace

PreFilterMessages::PreFilterMessages()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    readEnd_.reset(fds[0]);
    writeEnd_.reset(fds[1]);
}

PreFilterMessages::~PreFilterMessages() { finish(false); }

void PreFilterMessages::redirectChild() const
{
    // dup2 onto itself would keep close-on-exec.
    if (writeEnd_.get() == STDERR_FILENO)
        fcntl(STDERR_FILENO, F_SETFD, 0);
    else if (writeEnd_)
        dup2(writeEnd_.get(), STDERR_FILENO);
}

void PreFilterMessages::start()
{
    if (!ok()) return;
    writeEnd_.reset();
    reader_ = std::thread([this] { relay(); });
}

void PreFilterMessages::passOn(std::string_view line)
{
    // Its own debug lines pass as they are; anything else is shown at debug
    // level with what it said first.
    if (line.starts_with("DEBUG:") || line.starts_with("DEBUG2:"))
        job::WriteMessageLine(std::string(line) + "\n");
    else
        job::WriteMessageLine("DEBUG: " + std::string(line) + "\n");
    if (repeatedOnFailure(line)) {
        kept_.emplace_back(line);
        if (kept_.size() > kKeptMessages) kept_.pop_front();
    }
}

void PreFilterMessages::relay()
{
    char chunk[4096];
    for (;;) {
        pollfd pfd{readEnd_.get(), POLLIN, 0};
        const int ready = poll(&pfd, 1, 100);
        if (ready < 0 && errno == EINTR) continue;
        // Once the pre-filter has ended, a descendant that keeps the pipe
        // open is not waited for.
        if (ready <= 0 && (ready < 0 || stop_)) break;
        if (ready == 0) continue;
        const ssize_t n = read(readEnd_.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        partial_.append(chunk, static_cast<size_t>(n));
        size_t end;
        while ((end = partial_.find('\n')) != std::string::npos) {
            passOn(std::string_view(partial_).substr(0, std::min(end, kMessageLineMax)));
            partial_.erase(0, end + 1);
        }
        if (partial_.size() > kMessageLineMax) {
            passOn(std::string_view(partial_).substr(0, kMessageLineMax));
            partial_.clear();
        }
    }
    if (!partial_.empty()) passOn(partial_);
    partial_.clear();
}

void PreFilterMessages::finish(bool failed)
{
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    readEnd_.reset();
    writeEnd_.reset();
    if (failed)
        for (const std::string& line : kept_) job::WriteMessageLine(line + "\n");
    kept_.clear();
}

namespace {

// A value as cupsParseOptions reads it back: quoted when it holds what
// would end it.
std::string optionValue(std::string_view value)
{
    if (!value.empty() && value.find_first_of(" \t\n\r\f\v\"'\\{}") == std::string_view::npos)
        return std::string(value);
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

void addOption(std::string& options, const char* name, std::string_view value)
{
    options += name;
    options += '=';
    options += optionValue(value);
    options += ' ';
}

void addGiven(std::string& options, const char* name, const std::string& value)
{
    if (!value.empty()) addOption(options, name, value);
}

void addGiven(std::string& options, const char* name, const std::optional<std::string>& value)
{
    if (value) addOption(options, name, *value);
}

const char* orientationValue(Orientation orientation)
{
    switch (orientation) {
    case Orientation::Portrait: return "3";
    case Orientation::Landscape: return "4";
    case Orientation::ReverseLandscape: return "5";
    case Orientation::ReversePortrait: return "6";
    case Orientation::Unset: break;
    }
    return nullptr;
}

}  // namespace

std::string LayoutFilterOptions(const JobTicket& ticket)
{
    const Layout& l = ticket.layout;
    std::string options;
    addGiven(options, "number-up", l.numberUp);
    addGiven(options, "number-up-layout", l.numberUpLayout);
    addGiven(options, "page-ranges", l.pageRanges);
    if (const char* orientation = orientationValue(l.orientation))
        addOption(options, "orientation-requested", orientation);
    addGiven(options, "landscape", l.landscape);
    addGiven(options, "fit-to-page", l.fitToPage);
    addGiven(options, "fitplot", l.fitPlot);
    addGiven(options, "print-scaling", l.scaling);
    addGiven(options, "scaling", l.scalingPercent);
    addGiven(options, "natural-scaling", l.naturalScalingPercent);
    addGiven(options, "position", l.position);
    addGiven(options, "page-left", l.pageLeft);
    addGiven(options, "page-right", l.pageRight);
    addGiven(options, "page-top", l.pageTop);
    addGiven(options, "page-bottom", l.pageBottom);
    addGiven(options, "page-set", l.pageSet);
    addGiven(options, "mirror", l.mirror);
    addGiven(options, "page-border", l.pageBorder);
    addGiven(options, "OutputOrder", l.outputOrder);
    addGiven(options, "PageSize", l.pageSize);
    addGiven(options, "media", l.media);
    addGiven(options, "sides", l.sides);
    addGiven(options, "Duplex", l.duplex);
    addGiven(options, "Collate", l.collate);
    addGiven(options, "multiple-document-handling", l.documentHandling);
    // The filter is CUPS's last filter and counts the pages itself.
    return options + kPreFilterPageLogging;
}

void ExecuteFilter(const std::string& prefilterPath, const JobTicket& ticket,
                   const PrinterProfile& printer, const JobDocument& document)
{
    // The macOS layout filter writes every copy into the document, and the
    // copies rule of the edit decision keeps one copy's pages; elsewhere the
    // printer makes them all from the job header.
    const std::string copies = platform::kPreFilterMakesCopies ? std::to_string(ticket.copies) : "1";
    const std::string options = LayoutFilterOptions(ticket);
    std::vector<const char*> argv = {printer.queueName.c_str(), ticket.jobId.c_str(),
                                     ticket.user.c_str(),       ticket.title.c_str(),
                                     copies.c_str(),            options.c_str()};
    if (document.path) argv.push_back(document.path->c_str());
    argv.push_back(nullptr);
    execv(prefilterPath.c_str(), const_cast<char* const*>(argv.data()));
}

}  // namespace pdftopjl
