// The staged document is used only through the descriptor that created it:
// whatever appears at its path afterwards (another file, a link) is never
// sent in its place.
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "driver/staging.hpp"
#include "job/tempfiles.hpp"
#include "support/fixtures.hpp"
#include "unit/prefilter_fixture.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

int Pages(const std::string& pdf)
{
    QPDF qpdf;
    qpdf.processMemoryFile("body", pdf.data(), pdf.size());
    return static_cast<int>(qpdf.getAllPages().size());
}

TEST(StagedDocumentBody, ComesFromItsDescriptorNotItsPath)
{
    TempDir tmp, data;
    ScopedEnv env{{"TMPDIR"}};
    setenv("TMPDIR", tmp.path().c_str(), 1);
    const std::string doc = MakePdf(2);
    const std::string other = MakePdf(5);
    WriteFile(data.file("doc.pdf"), doc);
    WriteFile(data.file("other.pdf"), other);
    WriteFile(data.file("printer.ppd"), MakePpd({}));

    // Copied as it is, or rewritten (turned).
    for (const char* options : {"", "ZRTurnPage=true"}) {
        for (bool link : {false, true}) {
            SCOPED_TRACE(std::string(options) + (link ? ", link" : ", file"));
            JobArguments args;
            args.program = "pdftopjl";
            args.copies = "1";
            args.optionText = options;
            args.documentPath = data.file("doc.pdf");
            JobInputs job(args, OpenPpd(data.file("printer.ppd").c_str()));
            ::testing::internal::CaptureStderr();
            std::optional<StagedDocument> staged = StageDocument(job, PrintOptions{});
            const std::string err = ::testing::internal::GetCapturedStderr();
            ASSERT_TRUE(staged) << err;

            // Another file takes the staged file's name.
            ASSERT_EQ(unlink(staged->path.c_str()), 0);
            if (link)
                ASSERT_EQ(symlink(data.file("other.pdf").c_str(), staged->path.c_str()), 0);
            else
                WriteFile(staged->path, other);

            FILE* out = std::fopen(data.file("body").c_str(), "wb");
            ASSERT_NE(out, nullptr);
            EXPECT_TRUE(SendStagedDocument(*staged, out));
            std::fclose(out);
            const std::string body = ReadFile(data.file("body"));
            if (*options == '\0')
                EXPECT_TRUE(body == doc) << "the body is not the staged document";
            else
                EXPECT_EQ(Pages(body), 2) << "the body is not the rewritten document";
            EXPECT_TRUE(ReadFile(data.file("other.pdf")) == other);
            job::RemoveAllTempFiles();
            EXPECT_TRUE(tmp.entries().empty());
        }
    }
}

}  // namespace
