// SPDX-License-Identifier: Apache-2.0
// Choosing the layout filter from the PPD's cupsFilter and the CUPS
// conversion tables, against fixture tables and programs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <cstring>
#include <string>
#include <vector>

#include "core/platform.hpp"
#include "cups/adapter.hpp"
#include "core/prefilter.hpp"
#include "support/fixtures.hpp"
#include "unit/prefilter_fixture.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

constexpr const char* kPdfLine = "application/pdf application/vnd.cups-pdf 66 ";

struct Selection {
    int result;
    std::string path;
    std::string err;
};

class PreFilterSelection : public CupsInstallation {
protected:
    Selection Select()
    {
        PpdHandle ppd = OpenPpd(std::getenv("PPD"));
        const PrinterProfile printer = ProfileFromPpd(ppd.get());
        ::testing::internal::CaptureStderr();
        std::optional<std::string> path = FindLayoutPreFilter(printer);
        std::string err = ::testing::internal::GetCapturedStderr();
        return {path ? 1 : -1, path.value_or(""), err};
    }

    void ExpectChosen(const std::string& program)
    {
        Selection s = Select();
        EXPECT_EQ(s.result, 1) << s.err;
        EXPECT_EQ(s.path, root.file("b/filter/" + program));
        EXPECT_EQ(s.err, "");
    }
    // One ERROR: line that holds `reason`, then the historical lines.
    void ExpectFailure(const std::string& reason, const std::string& historical)
    {
        Selection s = Select();
        EXPECT_EQ(s.result, -1);
        ASSERT_EQ(s.err.rfind("ERROR: ", 0), 0u) << s.err;
        const size_t end = s.err.find('\n');
        EXPECT_NE(s.err.substr(0, end).find(reason), std::string::npos) << s.err;
        EXPECT_EQ(s.err.substr(end + 1), historical);
    }
    void ExpectNoFilter() { ExpectFailure("No layout filter", "access bestFilterPath error\n"); }
};

TEST_F(PreFilterSelection, TablesAreSearchedInOrder)
{
    for (int first = 0; first < 4; ++first) {
        for (int later = first + 1; later < 4; ++later) {
            for (int i = 0; i < 4; ++i) unlink(TablePath(i).c_str());
            Table(later, kPdfLine + std::string("later\n"));
            Table(first, kPdfLine + std::string("first\n"));
            Program("first");
            Program("later");
            SCOPED_TRACE(std::to_string(first) + " before " + std::to_string(later));
            ExpectChosen("first");
        }
    }
}

TEST_F(PreFilterSelection, AMissingOrUnreadableTableIsSkipped)
{
    // Tables 0 and 1 absent, table 2 a directory.
    ASSERT_EQ(mkdir(TablePath(2).c_str(), 0755), 0);
    Table(3, kPdfLine + std::string("last\n"));
    Program("last");
    ExpectChosen("last");
}

struct TableCase {
    const char* name;
    std::string table;   // content of the first table
    std::string chosen;  // program expected, empty: the selection fails
};

class TableLines : public PreFilterSelection, public ::testing::WithParamInterface<TableCase> {};

TEST_P(TableLines, ChooseTheFirstAcceptableLine)
{
    Table(0, GetParam().table);
    for (const char* name : {"first", "cheap", "commented", "right", "piece", "abcdefghijklmno",
                             "abcdefghijklmnop", "short", "x", "comma"})
        Program(name);
    // What "../x" would reach from the filter directory.
    WriteFile(root.file("b/x"), "#!/bin/sh\nexit 0\n");
    chmod(root.file("b/x").c_str(), 0755);
    if (GetParam().chosen.empty())
        ExpectFailure("", "access bestFilterPath error\n");
    else
        ExpectChosen(GetParam().chosen);
}

const std::string kLongGap(130, ' ');

INSTANTIATE_TEST_SUITE_P(
    Cases, TableLines,
    ::testing::Values(
        TableCase{"FirstWinsOverCheaperLater",
                  "application/pdf application/vnd.cups-pdf 66 first\n"
                  "application/pdf application/vnd.cups-pdf 1 cheap\n",
                  "first"},
        TableCase{"Cost999Accepted",
                  "application/pdf application/vnd.cups-pdf 1000 first\n"
                  "application/pdf application/vnd.cups-pdf 999 cheap\n",
                  "cheap"},
        TableCase{"Cost1000Skipped", "application/pdf application/vnd.cups-pdf 1000 first\n", ""},
        TableCase{"LongCostWithLeadingZeros",
                  "application/pdf application/vnd.cups-pdf " + std::string(70, '0') +
                      "1000 first\n" + "application/pdf application/vnd.cups-pdf " +
                      std::string(70, '0') + "999 cheap\n",
                  "cheap"},
        TableCase{"HugeCostSkipped",
                  "application/pdf application/vnd.cups-pdf 99999999999999999999 first\n", ""},
        TableCase{"CommentLineSkipped",
                  "# application/pdf\tapplication/vnd.cups-pdf\t66\tcommented\n"
                  "application/pdf application/vnd.cups-pdf 66 right\n",
                  "right"},
        TableCase{"TypesCompareCaseSensitively",
                  "application/PDF application/vnd.cups-pdf 1 first\n"
                  "Application/pdf application/vnd.cups-pdf 1 first\n"
                  "application/pdf application/vnd.CUPS-pdf 1 first\n"
                  "application/pdf application/vnd.cups-pdf 66 right\n",
                  "right"},
        TableCase{"OtherWhitespaceSeparates",
                  "application/pdf\f\tapplication/vnd.cups-pdf\r 66 \t right trailing text\n",
                  "right"},
        TableCase{"OtherSourceOrDestinationSkipped",
                  "application/pdfx application/vnd.cups-pdf 1 first\n"
                  "application/pdf application/vnd.cups-pdfx 1 first\n"
                  "image/png application/vnd.cups-pdf 1 first\n",
                  ""},
        // A long line is one line: what follows its first 128 bytes is no
        // line of its own.
        TableCase{"LongLineIsReadWhole",
                  "text/plain application/vnd.cups-pdf 5 first" + kLongGap +
                      "application/pdf application/vnd.cups-pdf 5 piece\n",
                  ""},
        TableCase{"LongLineAccepted",
                  "application/pdf" + kLongGap + "application/vnd.cups-pdf 5 right\n", "right"},
        TableCase{"ProgramNameWithASlashFails",
                  "application/pdf application/vnd.cups-pdf 5 ../x\n"
                  "application/pdf application/vnd.cups-pdf 5 short\n",
                  ""},
        TableCase{"ProgramNameOfFifteen",
                  "application/pdf application/vnd.cups-pdf 5 abcdefghijklmno\n",
                  "abcdefghijklmno"},
        // The first acceptable line decides even when its name cannot be used.
        TableCase{"ProgramNameOfSixteenFails",
                  "application/pdf application/vnd.cups-pdf 5 abcdefghijklmnop\n"
                  "application/pdf application/vnd.cups-pdf 5 short\n",
                  ""},
        TableCase{"NamedProgramMissing", "application/pdf application/vnd.cups-pdf 5 absent\n",
                  ""},
        TableCase{"NoLineAtAll", "", ""}),
    [](const ::testing::TestParamInfo<TableCase>& info) { return info.param.name; });

TEST_F(PreFilterSelection, ProgramOfALaterTableIsNotTakenAfterAFailedFirstLine)
{
    Table(0, "application/pdf application/vnd.cups-pdf 5 abcdefghijklmnop\n");
    Table(1, kPdfLine + std::string("short\n"));
    Program("short");
    ExpectNoFilter();
}

struct PpdCase {
    const char* name;
    std::vector<std::string> lines;
    std::string sourceType;  // matched by the table; empty: no source type
};

class CupsFilterValue : public PreFilterSelection, public ::testing::WithParamInterface<PpdCase> {};

TEST_P(CupsFilterValue, FirstTokenIsTheSourceType)
{
    Ppd(GetParam().lines);
    const std::string types[] = {"application/pdf", "text/plain", std::string(29, 'a') + "/x",
                                 "application/x,y;z=1"};
    std::string table;
    for (const std::string& type : types) {
        std::string program = "p" + std::to_string(&type - types);
        table += type + " application/vnd.cups-pdf 5 " + program + "\n";
        Program(program);
    }
    Table(0, table);
    Selection s = Select();
    if (GetParam().sourceType.empty()) {
        ExpectFailure("no input type", "get srcFormat error\naccess bestFilterPath error\n");
        return;
    }
    const std::string* at = std::find(std::begin(types), std::end(types), GetParam().sourceType);
    if (at == std::end(types)) {
        ExpectNoFilter();
        return;
    }
    EXPECT_EQ(s.result, 1) << s.err;
    EXPECT_EQ(s.path, root.file("b/filter/p" + std::to_string(at - types)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CupsFilterValue,
    ::testing::Values(
        PpdCase{"Plain", {"*cupsFilter: \"application/pdf 0 pdftopjl\""}, "application/pdf"},
        PpdCase{"LeadingSpaces", {"*cupsFilter: \"   application/pdf 0 pdftopjl\""},
                "application/pdf"},
        PpdCase{"TabIsNoSeparator", {"*cupsFilter: \"application/pdf\t0 pdftopjl\""},
                "application/pdf\t0"},
        PpdCase{"TokenOnly", {"*cupsFilter: \"application/pdf\""}, "application/pdf"},
        PpdCase{"RangeInTypeClass", {"*cupsFilter: \"application/x,y;z=1 0 f\""},
                "application/x,y;z=1"},
        PpdCase{"LongProgramPathAfterTheToken",
                {"*cupsFilter: \"application/pdf 0 /" + std::string(200, 'p') + "\""},
                "application/pdf"},
        PpdCase{"EarlierNameThatOnlyBeginsWithCupsFilter",
                {"*cupsFilterX: \"text/plain 0 other\"",
                 "*cupsFilter: \"application/pdf 0 pdftopjl\""},
                "text/plain"},
        PpdCase{"TokenOfThirtyThree",
                {"*cupsFilter: \"" + std::string(31, 'a') + "/x 0 pdftopjl\""}, ""},
        PpdCase{"TokenOfThirtyOne",
                {"*cupsFilter: \"" + std::string(29, 'a') + "/x 0 pdftopjl\""},
                std::string(29, 'a') + "/x"},
        PpdCase{"NoAttribute", {}, ""},
        PpdCase{"OnlySpaces", {"*cupsFilter: \"    \""}, ""}),
    [](const ::testing::TestParamInfo<PpdCase>& info) { return info.param.name; });

TEST_F(PreFilterSelection, PpdThatCannotBeOpened)
{
    for (bool set : {false, true}) {
        if (set)
            setenv("PPD", root.file("absent.ppd").c_str(), 1);
        else
            unsetenv("PPD");
        ExpectFailure("PPD cannot be read", "ppdOpenFile return NULL\n");
    }
}

TEST_F(PreFilterSelection, SourceTypeThatIsTheDestinationTypeHasNoConversion)
{
    Ppd({std::string("*cupsFilter: \"") + platform::kLayoutDestinationType + " 0 pdftopjl\""});
    Table(0, std::string(platform::kLayoutDestinationType) + " " + platform::kLayoutDestinationType + " 0 same\n");
    Program("same");
    ExpectNoFilter();
}

TEST_F(PreFilterSelection, PathsThatDoNotFitFailTheSelection)
{
    Table(0, kPdfLine + std::string("abcdefghijklmno\n"));
    Table(2, kPdfLine + std::string("abcdefghijklmno\n"));
    Program("abcdefghijklmno");
    ExpectChosen("abcdefghijklmno");

    // The filter directory grows until the full path no longer fits.
    const std::string bin = root.file("b");
    const size_t room = kPrefilterPathSize - 1 - std::strlen("/filter/abcdefghijklmno");
    if (bin.size() > room) GTEST_SKIP() << "temporary directory too long";
    std::string longBin = bin + std::string(room - bin.size(), '/');
    setenv("CUPS_SERVERBIN", longBin.c_str(), 1);
    Selection s = Select();  // exactly 63 characters
    EXPECT_EQ(s.result, 1) << s.err;
    EXPECT_EQ(s.path, longBin + "/filter/abcdefghijklmno");
    EXPECT_EQ(s.path.size(), kPrefilterPathSize - 1);
    longBin += "/";
    setenv("CUPS_SERVERBIN", longBin.c_str(), 1);
    ExpectNoFilter();
    setenv("CUPS_SERVERBIN", bin.c_str(), 1);

    // A table path that does not fit is not silently passed over.
    setenv("CUPS_DATADIR", (root.file("d") + std::string(64, '/')).c_str(), 1);
    ExpectNoFilter();
}

TEST_F(PreFilterSelection, TheFilterDirectoryItselfIsNeverChosen)
{
    Table(0, "image/png application/vnd.cups-pdf 5 other\n");
    Selection s = Select();
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.path, "");
    EXPECT_NE(s.err.find("ERROR: No layout filter"), std::string::npos) << s.err;
}

TEST_F(PreFilterSelection, UnsetOrEmptyVariablesMeanTheSystemInstallation)
{
    const std::string system = std::string(platform::kDefaultCupsServerBin) + "/filter/pdftopdf";
    if (access(system.c_str(), X_OK) != 0) GTEST_SKIP() << "cups-filters is not installed";
    for (bool empty : {false, true}) {
        for (const char* name : {"CUPS_DATADIR", "CUPS_SERVERROOT", "CUPS_SERVERBIN"}) {
            if (empty)
                setenv(name, "", 1);
            else
                unsetenv(name);
        }
        Selection s = Select();
        EXPECT_EQ(s.result, 1) << s.err;
        EXPECT_EQ(s.path, system);
    }
}

TEST(kConversionLinePatternText, HoldsTheWhitespaceCharactersThemselves)
{
    const std::string ws = " \x09\x0c\x0d\x0a";
    const std::string type = "([a-z]+/[a-zA-Z_0-9!#$&.+-^*]+)";
    const std::string expected = type + "[" + ws + "]+" + type + "[" + ws + "]+([0-9]+)+[" + ws +
                                 "]+([^" + ws + "]+)";
    EXPECT_EQ(std::string(kConversionLinePattern), expected);
    EXPECT_EQ(std::strchr(kConversionLinePattern, '\\'), nullptr);
}

TEST(BestFilterDirect, MissingTableYieldsNothing)
{
    std::string name;
    EXPECT_EQ(BestFilter("/nonexistent/mime.convs", "application/pdf",
                         platform::kLayoutDestinationType, &name),
              TableAnswer::None);
    EXPECT_EQ(name, "");
}

}  // namespace
