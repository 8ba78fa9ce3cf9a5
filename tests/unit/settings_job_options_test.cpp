// Sharing one parse of the options and of the PPD during option gathering
// must not change what any routine sees.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "settings/job_options.hpp"
#include "support/fixtures.hpp"

using namespace testsupport;

namespace {

std::string ModelOf(const JobPPD& ppd)
{
    if (!ppd) return "<none>";
    ppd_attr_t* attr = ppdFindAttr_ALT(ppd.get(), "ZRModel", nullptr);
    return attr != nullptr ? attr->value : "<no attribute>";
}

class SharedParse : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("PPD")) saved = old;
        WriteFile(dir.file("a.ppd"), MakePpd({"*ZRModel: \"A\""}));
        WriteFile(dir.file("b.ppd"), MakePpd({"*ZRModel: \"B\""}));
    }
    void TearDown() override
    {
        if (saved) setenv("PPD", saved->c_str(), 1);
        else unsetenv("PPD");
    }
    TempDir dir;
    std::optional<std::string> saved;
};

TEST_F(SharedParse, OptionsAreSharedOnlyForTheScopesOwnText)
{
    std::string text = "a=1 b=2";
    std::string other = "a=9";
    GatheringScope scope(text.c_str());
    std::optional<JobOptions> local;
    const JobOptions& shared = JobOptionsFor(text.c_str(), local);
    EXPECT_FALSE(local.has_value());
    EXPECT_STREQ(shared.get("b"), "2");
    const JobOptions& fresh = JobOptionsFor(other.c_str(), local);
    EXPECT_TRUE(local.has_value());
    EXPECT_STREQ(fresh.get("a"), "9");
}

TEST_F(SharedParse, PpdFollowsTheEnvironmentInsideAndOutsideAScope)
{
    setenv("PPD", dir.file("a.ppd").c_str(), 1);
    {
        GatheringScope scope("");
        EXPECT_EQ(ModelOf(JobPPD()), "A");
        EXPECT_EQ(JobPPD().get(), JobPPD().get()) << "one parse per scope";
        setenv("PPD", dir.file("b.ppd").c_str(), 1);
        EXPECT_EQ(ModelOf(JobPPD()), "B");
        unsetenv("PPD");
        EXPECT_EQ(ModelOf(JobPPD()), "<none>");
    }
    setenv("PPD", dir.file("b.ppd").c_str(), 1);
    EXPECT_EQ(ModelOf(JobPPD()), "B");
}

TEST_F(SharedParse, MissingPpdStaysMissingInAScope)
{
    setenv("PPD", dir.file("absent.ppd").c_str(), 1);
    GatheringScope scope("");
    EXPECT_FALSE(JobPPD());
    EXPECT_FALSE(JobPPD());
}

}  // namespace
