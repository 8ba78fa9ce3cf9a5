// Jobs through a real, private CUPS scheduler: lp -> cupsd -> pdftopjl -> file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <regex>
#include <string>

#include "pjl/jobstream.hpp"
#include "support/cupsd.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

constexpr int kJobTimeoutMs = 60000;

// The sample PPD, serving the freshly built filter by absolute path.
std::string SamplePpd(const std::string& encoding = "UTF-8")
{
    std::string ppd = ReadFile(std::string(PDFTOPJL_SOURCE_DIR) + "/samples/pdftopjl-sample.ppd");
    ppd = std::regex_replace(ppd, std::regex("\\*cupsFilter: \"application/pdf 0 pdftopjl\""),
                             "*cupsFilter: \"application/pdf 0 " + FilterBinary() + "\"");
    return std::regex_replace(ppd, std::regex("\\*ZRPrinterLanguageEncoding: \"UTF-8\""),
                              "*ZRPrinterLanguageEncoding: \"" + encoding + "\"");
}

class Cupsd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        skip_ = PrivateCupsd::Unavailable();
        if (!skip_.empty()) return;
        server_ = std::make_unique<PrivateCupsd>();
        std::string error;
        if (!server_->Start(&error) || !server_->AddQueue("utf8", SamplePpd("UTF-8"), &error) ||
            !server_->AddQueue("sjis", SamplePpd("SJIS"), &error)) {
            startError_ = error;
        }
        documents_ = std::make_unique<TempDir>();
        chmod(documents_->path().c_str(), 0755);
        WriteFile(documents_->file("four.pdf"), MakePdf(4, 595, 842));
    }
    static void TearDownTestSuite()
    {
        server_.reset();
        documents_.reset();
    }
    void SetUp() override
    {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(startError_.empty()) << startError_;
    }

    // Prints a document and returns the captured job stream ("" on failure).
    std::string Print(const std::string& queue, const std::vector<std::string>& lpArgs,
                      const std::string& document, std::string* state)
    {
        std::string error;
        unlink(server_->OutputFile(queue).c_str());
        int id = server_->Submit(queue, lpArgs, document, &error);
        EXPECT_GT(id, 0) << error;
        if (id <= 0) return "";
        *state = server_->WaitForJob(id, kJobTimeoutMs);
        return ReadFile(server_->OutputFile(queue));
    }

    static std::string Doc(const std::string& name) { return documents_->file(name); }

    static std::string skip_;
    static std::string startError_;
    static std::unique_ptr<PrivateCupsd> server_;
    static std::unique_ptr<TempDir> documents_;
};

std::string Cupsd::skip_;
std::string Cupsd::startError_;
std::unique_ptr<PrivateCupsd> Cupsd::server_;
std::unique_ptr<TempDir> Cupsd::documents_;

TEST_F(Cupsd, PlainJobIsFramedAndComplete)
{
    std::string state;
    std::string stream = Print("utf8", {"-t", "Plain"}, Doc("four.pdf"), &state);
    ASSERT_EQ(state, "completed") << server_->ErrorLog();
    JobStream job = ParseJobStream(stream);
    ASSERT_TRUE(job.valid) << job.error;
    EXPECT_EQ(job.body, ReadFile(Doc("four.pdf")));
}

TEST_F(Cupsd, UnprocessableDocumentEndsAsAFailedJob)
{
    // A truncated PDF that the layout pre-filter cannot read.
    std::string pdf = MakePdf(4);
    WriteFile(Doc("broken.pdf"), pdf.substr(0, 200));
    std::string state;
    Print("utf8", {"-o", "number-up=2"}, Doc("broken.pdf"), &state);
    EXPECT_EQ(state, "aborted");
}

}  // namespace
