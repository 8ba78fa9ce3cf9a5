#include "pjl/writer.hpp"

#include <cinttypes>
#include <cstring>
#include <string_view>

#include "driver/output.hpp"
#include "pjl/blocks.hpp"

namespace {

FILE* gPJLOutput = nullptr;

constexpr char kUEL[] = "\x1b%-12345X";

// A line under construction, bounded so that it never exceeds kPJLLineMax
// bytes with its closing text.
class Line {
public:
    void append(std::string_view text)
    {
        for (char c : text) {
            if (length_ >= kPJLLineMax) break;
            buffer_[length_++] = c;
        }
    }

    void appendClean(std::string_view text, bool quoted, size_t reserve)
    {
        for (unsigned char c : text) {
            if (PJLDropsByte(c, quoted)) continue;
            if (length_ + reserve >= kPJLLineMax) break;
            buffer_[length_++] = static_cast<char>(c);
        }
    }

    void finish(std::string_view closing)
    {
        append(closing);
        Utlfputs(buffer_, PJLOutput());
    }

private:
    char buffer_[kPJLLineMax + 1] = {};
    size_t length_ = 0;
};

}  // namespace

FILE* PJLOutput() { return gPJLOutput != nullptr ? gPJLOutput : stdout; }

void SetPJLOutput(FILE* stream) { gPJLOutput = stream; }

void MakePJLCommand(const char* kind, const char* name, const char* value)
{
    const std::string_view k = kind != nullptr ? kind : "";
    const std::string_view n = name != nullptr ? name : "";
    std::string_view v = value != nullptr ? value : "";
    Line line;
    if (k == "SET") {
        const bool quoted = v.size() >= 2 && v.front() == '"' && v.back() == '"';
        line.append("@PJL SET ");
        line.appendClean(n, false, 1);
        if (quoted) {
            line.append("=\"");
            line.appendClean(v.substr(1, v.size() - 2), true, 2);
            line.finish("\"\n");
        } else {
            line.append("=");
            line.appendClean(v, false, 1);
            line.finish("\n");
        }
    } else if (k == "ATTR") {
        line.append("@PJL SET JOBATTR=\"@");
        line.appendClean(n, true, 3);
        line.append("=");
        line.appendClean(v, true, 2);
        line.finish("\"\n");
    } else {
        Utlfputs("", PJLOutput());
    }
}

void PutPJLComment(const char* text)
{
    Line line;
    line.append("@PJL COMMENT ");
    line.appendClean(text != nullptr ? text : "", false, 1);
    line.finish("\n");
}

void MakeCommonComments()
{
    PutPJLComment("begin");
    PutPJLComment("Version:4.00");
}

void OutputPJLPrinterLanguageEncoding(const PrintOptions* options)
{
    const char* value = "\"SJISX0208\"";
    if (options->ppd.printerLanguageEncoding == "UTF-8")
        value = "\"UTF8\"";
    else if (options->ppd.printerLanguageEncoding == "ISOLatin1")
        value = "\"HPROMAN8\"";
    MakePJLCommand("SET", "STRINGCODESET", value);
}

void OutputFileSizeCommand(int64_t fileSize)
{
    char value[32];
    snprintf(value, sizeof value, "%" PRId64, fileSize);
    MakePJLCommand("ATTR", "FSIZ", value);
}

void PutEnterLanguage() { Utlfputs("@PJL ENTER LANGUAGE=PDF\n", PJLOutput()); }

void PutPJLTrailer() { Utlfputs(kUEL, PJLOutput()); }

void PutPJLTrailerEnd() { Utlfputs("@PJL EOJ\n", PJLOutput()); }

int PutPJLCommand(char* argv[], PrintOptions* options, int64_t fileSize)
{
    Utlfputs("\x1b%-12345X@PJL JOB MODE=PRINTER\n", PJLOutput());
    OutputPJLPrinterLanguageEncoding(options);
    MakeCommonComments();
    PutJACommand(argv, options);
    OutputJobDocCommand(argv, options);
    OutputFileSizeCommand(fileSize);
    PutEnterLanguage();
    return 1;
}

int OutputKPJLCommand(char* argv[], PrintOptions* options, int64_t fileSize)
{
    // Refused before the first byte, so a job that cannot be held as asked
    // never starts printing.
    if (!CheckHoldPasscode(options)) return 0;
    PutPJLCommand(argv, options, fileSize);
    return 1;
}

void OutputKPJLTrailer(char* /*argv*/[], PrintOptions* /*options*/)
{
    PutPJLTrailer();
    PutPJLTrailerEnd();
}
