// Option gathering for a job with 200 options and a 300 KiB PPD.
// Prints the median time of GetPrintOptions, of the same steps with every
// routine opening the PPD and parsing the options on its own, and of the
// reference work (one ppdOpenFile and one cupsParseOptions), all in one run.
#include <cups/cups.h>
#include <cups/ppd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "settings/docname.hpp"
#include "settings/gather.hpp"
#include "settings/print_options.hpp"

namespace {

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

double TimeMs(const std::function<void()>& work, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return Median(times);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* dir = argc > 1 ? argv[1] : "/tmp";
    const int runs = argc > 2 ? std::atoi(argv[2]) : 21;
    const std::string ppdPath = std::string(dir) + "/bench.ppd";
    const std::string ppdText = MakeBigPpd(300 * 1024);
    std::ofstream(ppdPath) << ppdText;
    setenv("PPD", ppdPath.c_str(), 1);

    std::string options = MakeOptions(200);
    std::string title = "Quarterly report";
    std::vector<char*> args = {const_cast<char*>("pdftopjl"), const_cast<char*>("1"),
                               const_cast<char*>("user"), title.data(), const_cast<char*>("1"),
                               options.data(), nullptr};
    {
        int count = 0;
        cups_option_t* list = nullptr;
        count = cupsParseOptions(options.c_str(), 0, &list);
        cupsFreeOptions(count, list);
        std::printf("options:   %d\nPPD:       %zu KiB\n", count, ppdText.size() / 1024);
    }

    static PrintOptions record;
    double gather = TimeMs([&] {
        std::memset(&record, 0, sizeof record);
        GetPrintOptions(args.data(), &record);
    }, runs);
    if (!(record.ppd.printerLanguageEncoding == "UTF-8") || !(record.kvr.loginName == "login")) {
        std::fprintf(stderr, "gathering did not read the job\n");
        return 2;
    }

    // The same steps without the shared parse: every routine opens the PPD
    // and parses the options itself.
    double unshared = TimeMs([&] {
        std::memset(&record, 0, sizeof record);
        GetPPDOptions(&record.ppd);
        std::memset(StdDocumentName, 0, 255);
        std::memset(PTStdDocumentName, 0, 255);
        InvalidateStdDocumentNameForProductType(args.data(), true);
        InvalidatePrintTypeDocumentNameForProductType(args.data());
        GetTicketFromPDE(args.data(), &record);
    }, runs);

    double reference = TimeMs([&] {
        ppd_file_t* ppd = ppdOpenFile(ppdPath.c_str());
        ppdClose(ppd);
        int count = 0;
        cups_option_t* list = nullptr;
        count = cupsParseOptions(options.c_str(), 0, &list);
        cupsFreeOptions(count, list);
    }, runs);

    std::remove(ppdPath.c_str());
    std::printf("GetPrintOptions median:            %.2f ms (target < 20 ms)\n", gather);
    std::printf("unshared PPD and options median:   %.2f ms\n", unshared);
    std::printf("reference (one PPD parse + one option parse): %.2f ms\n", reference);
    std::printf("%s\n", gather < 20.0 ? "PASS" : "FAIL");
    return gather < 20.0 ? 0 : 1;
}
