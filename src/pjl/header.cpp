#include "pjl/header.hpp"

#include <string>

#include "pjl/docblock.hpp"
#include "pjl/owner.hpp"

namespace pdftopjl {

namespace {

constexpr char kUEL[] = "\x1b%-12345X";

const char* stringCodeSet(const PrintOptions& settings)
{
    if (settings.utf8Mode()) return "\"UTF8\"";
    if (settings.ppd.printerLanguageEncoding == "ISOLatin1") return "\"HPROMAN8\"";
    return "\"SJISX0208\"";
}

}  // namespace

bool WriteJobHeader(const HeaderInputs& in, PjlWriter& out)
{
    // Refused before the first byte, so a job that cannot be held as asked
    // never starts printing.
    if (!StoredJobPasscodeUsable(in.settings)) return false;

    out.raw(std::string(kUEL) + "@PJL JOB MODE=PRINTER\n");
    out.set("STRINGCODESET", stringCodeSet(in.settings));
    out.comment("begin");
    out.comment("Version:4.00");
    WriteOwnerBlocks(OwnerInputs{in.settings, in.requestingUser, in.host, in.now}, out);
    WriteDocumentBlock(in.settings, in.copies, out);
    out.attr("FSIZ", std::to_string(in.fileSize));
    out.raw("@PJL ENTER LANGUAGE=PDF\n");
    return true;
}

void WriteJobTrailer(PjlWriter& out)
{
    out.raw(kUEL);
    out.raw("@PJL EOJ\n");
}

}  // namespace pdftopjl
