// SPDX-License-Identifier: Apache-2.0
// The staged document is used only through its descriptor: whatever appears
// afterwards at its path, or at the document's own path when it is sent in
// place (another file, a link), is never sent in its place.
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "core/staging.hpp"
#include "job/tempfiles.hpp"
#include "support/fixtures.hpp"
#include "unit/job_fixture.hpp"
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
            const CupsJob job = testjob::Adapt(options, data.file("printer.ppd"));
            JobDocument document;
            document.path = data.file("doc.pdf");
            Outcome failure = Outcome::Printed;
            ::testing::internal::CaptureStderr();
            std::optional<StagedDocument> staged = StageDocument(job.ticket, job.printer, document, &failure);
            const std::string err = ::testing::internal::GetCapturedStderr();
            ASSERT_TRUE(staged) << err;

            // Another file takes the staged file's name, or the document's.
            const std::string taken = staged->path.empty() ? data.file("doc.pdf") : staged->path;
            ASSERT_EQ(unlink(taken.c_str()), 0);
            if (link)
                ASSERT_EQ(symlink(data.file("other.pdf").c_str(), taken.c_str()), 0);
            else
                WriteFile(taken, other);

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
            unlink(data.file("doc.pdf").c_str());
            WriteFile(data.file("doc.pdf"), doc);
            job::RemoveAllTempFiles();
            EXPECT_TRUE(tmp.entries().empty());
        }
    }
}

// A document sent in place that changes size after it was measured: the body
// is never more than the header announced, and a shorter one fails the job.
TEST(StagedDocumentBody, InPlaceKeepsTheAnnouncedSize)
{
    TempDir tmp, data;
    ScopedEnv env{{"TMPDIR"}};
    setenv("TMPDIR", tmp.path().c_str(), 1);
    const std::string doc = MakePdf(2);
    WriteFile(data.file("printer.ppd"), MakePpd({}));
    for (bool shorter : {false, true}) {
        SCOPED_TRACE(shorter ? "shorter" : "longer");
        WriteFile(data.file("doc.pdf"), doc);
        const CupsJob job = testjob::Adapt("", data.file("printer.ppd"));
        JobDocument document;
        document.path = data.file("doc.pdf");
        Outcome failure = Outcome::Printed;
        std::optional<StagedDocument> staged = StageDocument(job.ticket, job.printer, document, &failure);
        ASSERT_TRUE(staged && staged->path.empty());
        ASSERT_EQ(truncate(data.file("doc.pdf").c_str(), shorter ? 100 : doc.size() + 5000), 0);

        FILE* out = std::fopen(data.file("body").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(SendStagedDocument(*staged, out), !shorter);
        const std::string err = ::testing::internal::GetCapturedStderr();
        std::fclose(out);
        const std::string body = ReadFile(data.file("body"));
        if (shorter) {
            EXPECT_NE(err.find("ERROR: The document became shorter while it was being sent"),
                      std::string::npos) << err;
        } else {
            EXPECT_TRUE(body == doc) << "more than the announced size was sent";
        }
    }
}

}  // namespace
