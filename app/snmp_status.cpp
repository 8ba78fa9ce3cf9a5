// SPDX-License-Identifier: Apache-2.0
#include "snmp_status.hpp"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "host/snmp.hpp"

namespace pdftopjl::app {

namespace {

using Clock = std::chrono::steady_clock;
using snmp::Oid;

constexpr int kAnswerLimitMs = 1000;
constexpr size_t kMaxSupplies = 16;  // what the supplies page and PAPPL keep
constexpr auto kAskEvery = std::chrono::seconds(3);
constexpr auto kAskSilentEvery = std::chrono::seconds(60);

const Oid kErrorState = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1};  // hrPrinterDetectedErrorState.1
const Oid kSupplyEntry = {1, 3, 6, 1, 2, 1, 43, 11, 1, 1};      // prtMarkerSuppliesEntry
const Oid kColorantValue = {1, 3, 6, 1, 2, 1, 43, 12, 1, 1, 4};  // prtMarkerColorantValue
enum Column : uint32_t { kColorant = 3, kClass = 4, kType = 5, kDescription = 6, kUnit = 7, kMax = 8, kLevel = 9 };
constexpr uint32_t kColumns[] = {kColorant, kClass, kType, kDescription, kUnit, kMax, kLevel};

class Agent {
public:
    explicit Agent(const std::string& host)
    {
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), "161", &hints, &found) != 0) return;
        for (addrinfo* at = found; at != nullptr && fd_ < 0; at = at->ai_next) {
            fd_ = socket(at->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (fd_ >= 0 && connect(fd_, at->ai_addr, at->ai_addrlen) != 0) {
                close(fd_);
                fd_ = -1;
            }
        }
        freeaddrinfo(found);
    }
    ~Agent()
    {
        if (fd_ >= 0) close(fd_);
    }

    // The answer to a v1 request, or none within the limit.
    std::optional<snmp::Message> ask(uint8_t pdu, const std::vector<Oid>& oids, int timeoutMs)
    {
        if (fd_ < 0) return std::nullopt;
        snmp::Message request;
        request.community = "public";
        request.pdu = pdu;
        request.requestId = ++id_;
        for (const Oid& oid : oids) request.vars.push_back({oid, {}});
        const std::string packet = snmp::Encode(request);
        if (send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(packet.size()))
            return std::nullopt;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd wait{fd_, POLLIN, 0};
            if (left <= 0 || poll(&wait, 1, static_cast<int>(left)) != 1) return std::nullopt;
            char buffer[65536];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return std::nullopt;  // refused: nothing listens
            auto answer = snmp::Decode(std::string_view(buffer, static_cast<size_t>(n)));
            // Late answers to earlier requests are passed over.
            if (answer && answer->pdu == snmp::kResponse && answer->requestId == request.requestId) return answer;
        }
    }

private:
    int fd_ = -1;
    int32_t id_ = 0;
};

pappl_supply_color_t colorOf(std::string name)
{
    for (const char* suffix : {" toner", " ink"})
        if (const size_t at = name.find(suffix); at != std::string::npos) name.erase(at);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    static const std::map<std::string, pappl_supply_color_t> colours = {
        {"black", PAPPL_SUPPLY_COLOR_BLACK},     {"cyan", PAPPL_SUPPLY_COLOR_CYAN},
        {"magenta", PAPPL_SUPPLY_COLOR_MAGENTA}, {"yellow", PAPPL_SUPPLY_COLOR_YELLOW},
        {"gray", PAPPL_SUPPLY_COLOR_GRAY},       {"grey", PAPPL_SUPPLY_COLOR_GRAY},
    };
    const auto found = colours.find(name);
    return found != colours.end() ? found->second : PAPPL_SUPPLY_COLOR_NO_COLOR;
}

pappl_supply_type_t typeOf(int64_t type)
{
    // prtMarkerSuppliesType values a laser printer reports.
    switch (type) {
    case 3: return PAPPL_SUPPLY_TYPE_TONER;
    case 4: return PAPPL_SUPPLY_TYPE_WASTE_TONER;
    case 9: return PAPPL_SUPPLY_TYPE_OPC;
    case 10: return PAPPL_SUPPLY_TYPE_DEVELOPER;
    case 15: return PAPPL_SUPPLY_TYPE_FUSER;
    case 16: return PAPPL_SUPPLY_TYPE_CORONA_WIRE;
    case 18: return PAPPL_SUPPLY_TYPE_CLEANER_UNIT;
    case 20: return PAPPL_SUPPLY_TYPE_TRANSFER_UNIT;
    case 21: return PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE;
    case 26: return PAPPL_SUPPLY_TYPE_WASTE_PAPER;
    case 32: return PAPPL_SUPPLY_TYPE_STAPLES;
    case 1: return PAPPL_SUPPLY_TYPE_OTHER;
    default: return PAPPL_SUPPLY_TYPE_UNKNOWN;
    }
}

const char* colourName(pappl_supply_color_t colour)
{
    switch (colour) {
    case PAPPL_SUPPLY_COLOR_BLACK: return "black";
    case PAPPL_SUPPLY_COLOR_CYAN: return "cyan";
    case PAPPL_SUPPLY_COLOR_MAGENTA: return "magenta";
    case PAPPL_SUPPLY_COLOR_YELLOW: return "yellow";
    default: return nullptr;
    }
}

struct Row {
    std::map<uint32_t, snmp::Value> columns;
    int64_t number(uint32_t column, int64_t otherwise) const
    {
        const auto at = columns.find(column);
        return at != columns.end() && at->second.tag == snmp::kInteger ? at->second.number : otherwise;
    }
};

// The supplies table, read a row at a time with all columns in one request.
std::optional<std::vector<Row>> readSupplies(Agent& agent, int timeoutMs)
{
    std::vector<Oid> cursor;
    for (const uint32_t column : kColumns) {
        cursor.push_back(kSupplyEntry);
        cursor.back().push_back(column);
    }
    std::vector<Row> rows;
    while (rows.size() < kMaxSupplies) {
        const auto answer = agent.ask(snmp::kGetNext, cursor, timeoutMs);
        if (!answer) return std::nullopt;
        // The end of the agent's MIB (v1).
        if (answer->errorStatus != 0 || answer->vars.size() != cursor.size()) break;
        // Rows are those of the level column; a column a printer leaves out
        // (or leaves gaps in) gives no value.  Index: hrDeviceIndex,
        // prtMarkerSuppliesIndex.
        auto inColumn = [&](size_t i) {
            Oid column = kSupplyEntry;
            column.push_back(kColumns[i]);
            return snmp::HasPrefix(answer->vars[i].oid, column) && answer->vars[i].oid.size() == column.size() + 2;
        };
        constexpr size_t level = std::size(kColumns) - 1;
        if (!inColumn(level)) break;
        Row row;
        for (size_t i = 0; i < cursor.size(); ++i) {
            const snmp::VarBind& var = answer->vars[i];
            if (inColumn(i) && var.oid.back() == answer->vars[level].oid.back()) row.columns[kColumns[i]] = var.value;
            cursor[i] = var.oid;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string printable(const std::string& text)
{
    // Descriptions reach web pages and logs: printable ASCII only.
    std::string out;
    for (const char ch : text.substr(0, 64)) out += ch >= 0x20 && ch < 0x7f ? ch : '?';
    return out;
}

void addCondition(SnmpState& state, pappl_preason_t reasons, std::string text)
{
    for (const SnmpCondition& c : state.conditions)
        if ((c.reasons & reasons) == reasons) return;
    state.conditions.push_back({reasons, std::move(text)});
}

struct Asking {
    bool running = false;
    Clock::time_point askedAt{};
    SnmpState last;
};

struct Registry {
    std::mutex lock;
    std::map<int, Asking> printers;  // by printer id
};

// Never destroyed: threads still asking at exit may use it.
Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

}  // namespace

SnmpState AskSnmp(const std::string& host, int timeoutMs)
{
    SnmpState state;
    Agent agent(host);
    const auto bits = agent.ask(snmp::kGet, {kErrorState}, timeoutMs);
    if (!bits) return state;
    state.answered = true;
    unsigned error = 0;
    if (bits->errorStatus == 0 && bits->vars.size() == 1 && bits->vars[0].value.tag == snmp::kOctetString) {
        const std::string& b = bits->vars[0].value.bytes;
        error = (b.size() > 0 ? static_cast<uint8_t>(b[0]) << 8 : 0) | (b.size() > 1 ? static_cast<uint8_t>(b[1]) : 0);
    }
    // hrPrinterDetectedErrorState: the texts are those of the PJL answers.
    if (error & 0x0400) addCondition(state, PAPPL_PREASON_MEDIA_JAM, "Paper jam");
    if (error & 0x0800) addCondition(state, PAPPL_PREASON_COVER_OPEN, "Door open");
    if (error & (0x4000 | 0x0004))
        addCondition(state, PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED,
                     error & 0x4000 ? "Out of paper" : "A paper tray is empty");
    if (error & 0x8000) addCondition(state, PAPPL_PREASON_MEDIA_LOW, "Paper low");
    if (error & 0x0200) addCondition(state, PAPPL_PREASON_OFFLINE, "Offline");

    const auto rows = readSupplies(agent, timeoutMs);
    std::map<int64_t, std::string> colorants;
    for (Oid cursor = kColorantValue; rows && !rows->empty() && colorants.size() < kMaxSupplies;) {
        const auto answer = agent.ask(snmp::kGetNext, {cursor}, timeoutMs);
        if (!answer || answer->errorStatus != 0 || answer->vars.size() != 1 ||
            !snmp::HasPrefix(answer->vars[0].oid, kColorantValue))
            break;
        cursor = answer->vars[0].oid;
        colorants[cursor.back()] = answer->vars[0].value.bytes;
    }
    for (const Row& row : rows.value_or(std::vector<Row>{})) {
        pappl_supply_t supply{};
        const auto colorant = colorants.find(row.number(kColorant, 0));
        supply.color = colorant != colorants.end() ? colorOf(colorant->second) : PAPPL_SUPPLY_COLOR_NO_COLOR;
        const auto description = row.columns.find(kDescription);
        std::snprintf(supply.description, sizeof supply.description, "%s",
                      description != row.columns.end() ? printable(description->second.bytes).c_str() : "");
        supply.is_consumed = row.number(kClass, 3) != 4;  // 4: a receptacle that fills
        const int64_t type = row.number(kType, 2);
        supply.type = typeOf(type);
        // Levels below zero say "unknown" or "some left": no number is made up.
        const int64_t max = row.number(kMax, -2), level = row.number(kLevel, -2), unit = row.number(kUnit, 0);
        int percent = -1;
        if (level >= 0 && max > 0) percent = static_cast<int>(std::min<int64_t>(100, 100 * level / max));
        else if (level >= 0 && level <= 100 && unit == 19) percent = static_cast<int>(level);
        if (percent >= 0 && !supply.is_consumed) percent = 100 - percent;
        supply.level = percent;
        state.supplies.push_back(supply);
        if ((type == 3 || type == 21) && percent >= 0 && percent <= 5) {
            const char* colour = colourName(supply.color);
            const std::string which = colour != nullptr ? std::string(": ") + colour : "";
            if (percent <= 1) addCondition(state, PAPPL_PREASON_TONER_EMPTY, "Toner empty" + which);
            else addCondition(state, PAPPL_PREASON_TONER_LOW, "Toner low" + which);
        }
    }
    // The bits say the same when no level does.
    if (error & 0x1000) addCondition(state, PAPPL_PREASON_TONER_EMPTY, "Toner empty");
    if (error & 0x2000) addCondition(state, PAPPL_PREASON_TONER_LOW, "Toner low");
    return state;
}

void AskSnmpSoon(int printerId, const std::string& uri, bool aroundJob)
{
    char scheme[32], userpass[32], host[256], resource[256];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, userpass, sizeof userpass, host,
                        sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
        std::strcmp(scheme, "socket") != 0)
        return;
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> hold(r.lock);
        Asking& a = r.printers[printerId];
        const auto now = Clock::now();
        const auto wait = a.last.answered ? (aroundJob ? Clock::duration{} : kAskEvery) : kAskSilentEvery;
        if (a.running || (a.askedAt != Clock::time_point{} && now - a.askedAt < wait)) return;
        a.running = true;
        a.askedAt = now;
    }
    std::thread([printerId, address = std::string(host)] {
        SnmpState state = AskSnmp(address, kAnswerLimitMs);
        Registry& r = registry();
        std::lock_guard<std::mutex> hold(r.lock);
        Asking& a = r.printers[printerId];
        a.running = false;
        a.last = std::move(state);
    }).detach();
}

SnmpState LastSnmp(int printerId)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    const auto found = r.printers.find(printerId);
    return found != r.printers.end() ? found->second.last : SnmpState{};
}

}  // namespace pdftopjl::app
