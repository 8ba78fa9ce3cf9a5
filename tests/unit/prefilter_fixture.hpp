// SPDX-License-Identifier: Apache-2.0
#pragma once

// A private CUPS installation for the pre-filter tests: conversion tables
// under CUPS_DATADIR and CUPS_SERVERROOT, programs in CUPS_SERVERBIN/filter,
// and the printer's PPD.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/fixtures.hpp"

// Sets variables for one test and puts the old values back afterwards.
class ScopedEnv {
public:
    explicit ScopedEnv(std::vector<std::string> names)
    {
        for (const std::string& name : names) {
            const char* value = std::getenv(name.c_str());
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    ~ScopedEnv()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

class CupsInstallation : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Short names keep the fixture paths inside the 64-byte fields.
        for (const char* dir : {"d", "d/mime", "r", "b", "b/filter"})
            ASSERT_EQ(mkdir(root.file(dir).c_str(), 0755), 0);
        setenv("CUPS_DATADIR", root.file("d").c_str(), 1);
        setenv("CUPS_SERVERROOT", root.file("r").c_str(), 1);
        setenv("CUPS_SERVERBIN", root.file("b").c_str(), 1);
        setenv("PPD", root.file("p.ppd").c_str(), 1);
        Ppd({"*cupsFilter: \"application/pdf 0 pdftopjl\""});
    }

    std::string TablePath(int index) const
    {
        static const char* const places[] = {"d/mime/cupsfilters.convs", "d/mime/mime.convs",
                                             "r/cupsfilters.convs", "r/mime.convs"};
        return root.file(places[index]);
    }
    void Table(int index, const std::string& content)
    {
        testsupport::WriteFile(TablePath(index), content);
    }
    void Ppd(const std::vector<std::string>& lines)
    {
        testsupport::WriteFile(root.file("p.ppd"), testsupport::MakePpd(lines));
    }
    // A program in the filter directory running the given shell commands.
    std::string Program(const std::string& name, const std::string& body = "exit 0\n",
                        mode_t mode = 0755)
    {
        std::string path = root.file("b/filter/" + name);
        testsupport::WriteFile(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), mode);
        return path;
    }

    ScopedEnv env{{"CUPS_DATADIR", "CUPS_SERVERROOT", "CUPS_SERVERBIN", "PPD", "TMPDIR"}};
    testsupport::TempDir root;
};
