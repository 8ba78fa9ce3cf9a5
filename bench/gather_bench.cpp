// SPDX-License-Identifier: Apache-2.0
// A job's settings work with 200 options and a 300 KiB PPD: opening the PPD,
// parsing the options, AdaptCupsJob and the header, against the bare
// library work it cannot avoid (one ppdOpenFile and one cupsParseOptions).
// Both are timed in the same loop, turn about, so that load from other
// processes falls on both alike.  Prints medians and the ratio.
#include <cups/cups.h>
#include <cups/ppd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "pjl/header.hpp"
#include "pjl/writer.hpp"
#include "cups/adapter.hpp"
#include "cups/job_inputs.hpp"

using namespace pdftopjl;

namespace {

constexpr double kTargetRatio = 1.3;

std::string MakeBigPpd(size_t targetBytes)
{
    std::string ppd =
        "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
        "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"BENCH.PPD\"\n"
        "*Manufacturer: \"Bench\"\n*Product: \"(Bench)\"\n*PSVersion: \"(3010.000) 0\"\n"
        "*ModelName: \"Bench Printer\"\n*ShortNickName: \"Bench\"\n*NickName: \"Bench Printer\"\n"
        "*cupsFilter: \"application/pdf 0 pdftopjl\"\n";
    const std::string code(90, 'c');
    for (int option = 0; ppd.size() < targetBytes; ++option) {
        std::string name = "ZRBenchOption" + std::to_string(option);
        ppd += "*OpenUI *" + name + "/Bench option " + std::to_string(option) + ": PickOne\n";
        ppd += "*OrderDependency: 20 AnySetup *" + name + "\n";
        ppd += "*Default" + name + ": Choice0\n";
        for (int choice = 0; choice < 12; ++choice)
            ppd += "*" + name + " Choice" + std::to_string(choice) + "/Choice " +
                   std::to_string(choice) + ": \"%" + code + "\"\n";
        ppd += "*CloseUI: *" + name + "\n";
        ppd += "*ZRBenchAttribute" + std::to_string(option) + ": \"value\"\n";
    }
    // Last, so that every prefix lookup walks the whole attribute list.
    ppd += "*ZRPrinterLanguageEncoding: \"UTF-8\"\n";
    return ppd;
}

std::string MakeOptions(int count)
{
    const std::string prefix = "com.quorvelin.qbd.printsettings.";
    const char* tickets[] = {
        "PrintTypeTicketKey=2", "PrintTypeUserNameTicketKey=alice", "DocumentNameTypeTicketKey=1",
        "DocumentNameTicketKey=Report", "KVRUserIDTextEditTicket=alice",
        "KVRUserPasswordTextEditTicket=secret", "KVRAdminUserIDTextEditTicket=admin",
        "KVRLoginTextEditTicket=login", "KVRHkgnPrintDateTicketKey=2024-01-02",
        "KVRInputUserPasswordTextEditTicket=/49/50/51", "BookletMarginSwitchTicket=on"};
    std::string text = "number-up=1 Collate=true media=A4 ZRInputSlot=1stTray ZRStaple=UpperLeft "
                       "com.apple.print.PrintSettings.PMDuplexing..n.=2 job-uuid=urn:uuid:1";
    int n = 7;
    for (const char* t : tickets) {
        text += " " + prefix + t;
        ++n;
    }
    for (; n < count; ++n) text += " x-bench-option-" + std::to_string(n) + "=value" + std::to_string(n);
    return text;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename Work>
double TimeMs(Work&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const char* dir = argc > 1 ? argv[1] : "/tmp";
    const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 21);
    const std::string ppdPath = std::string(dir) + "/bench.ppd";
    const std::string ppdText = MakeBigPpd(300 * 1024);
    std::ofstream(ppdPath) << ppdText;

    JobArguments args;
    args.program = "pdftopjl";
    args.jobId = "1";
    args.user = "user";
    args.title = "Quarterly report";
    args.copies = "1";
    args.optionText = MakeOptions(200);
    // Fixed: the address lookup is the job's network work, not its settings work.
    const HostIdentity host{"benchhost", "192.0.2.7"};
    FILE* sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) {
        std::perror("/dev/null");
        return 2;
    }

    // The whole job's settings work; the record is checked once afterwards.
    CupsJob record;
    bool headerOk = true;
    auto wholeJob = [&] {
        JobInputs job(args, OpenPpd(ppdPath.c_str()));
        record = AdaptCupsJob(job, 1);
        const HeaderTexts texts = EncodeHeaderTexts(record.ticket, record.printer);
        PjlWriter out(sink);
        headerOk &= StoredJobPasscodeUsable(record.ticket);
        WriteJobHeader(HeaderInputs{record.ticket, record.printer, texts, host, time(nullptr), 123456}, out);
        std::fflush(sink);
    };
    auto anchor = [&] {
        ppdClose(ppdOpenFile(ppdPath.c_str()));
        cups_option_t* list = nullptr;
        const int count = cupsParseOptions(args.optionText.c_str(), 0, &list);
        cupsFreeOptions(count, list);
    };

    const JobInputs opened(args, OpenPpd(ppdPath.c_str()));
    if (!opened.ppd) {
        std::fprintf(stderr, "the generated PPD does not open\n");
        return 2;
    }
    std::printf("options:   %d\nPPD:       %zu KiB\n", opened.options.count(), ppdText.size() / 1024);

    std::vector<double> whole, bare, gather;
    wholeJob();  // warm the page cache and the allocator for both
    anchor();
    for (int i = 0; i < runs; ++i) {
        // Alternate which goes first so neither always follows the other.
        if (i % 2 == 0) {
            whole.push_back(TimeMs(wholeJob));
            bare.push_back(TimeMs(anchor));
        } else {
            bare.push_back(TimeMs(anchor));
            whole.push_back(TimeMs(wholeJob));
        }
        gather.push_back(TimeMs([&] { record = AdaptCupsJob(opened, 1); }));
    }
    std::fclose(sink);
    std::remove(ppdPath.c_str());

    if (!headerOk || record.printer.codeSet != CodeSet::Utf8 ||
        record.ticket.accounting.loginName != "login") {
        std::fprintf(stderr, "the settings work did not read the job\n");
        return 2;
    }

    const double wholeMs = Median(whole);
    const double bareMs = Median(bare);
    const double ratio = wholeMs / bareMs;
    std::printf("runs:      %d\n", runs);
    std::printf("AdaptCupsJob alone (PPD and options ready) median: %.3f ms\n", Median(gather));
    std::printf("whole job (open PPD + parse options + AdaptCupsJob + header) median: %.2f ms\n",
                wholeMs);
    std::printf("bare ppdOpenFile + cupsParseOptions median: %.2f ms\n", bareMs);
    std::printf("ratio whole / bare: %.3f (target <= %.1f)\n", ratio, kTargetRatio);
    std::printf("%s\n", ratio <= kTargetRatio ? "PASS" : "FAIL");
    return ratio <= kTargetRatio ? 0 : 1;
}
