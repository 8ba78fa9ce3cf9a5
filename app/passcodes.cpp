// SPDX-License-Identifier: Apache-2.0
#include "passcodes.hpp"

#include <strings.h>

#include <map>
#include <utility>
#include <mutex>

#include "access.hpp"
#include "printer_settings.hpp"
#include "runtime.hpp"

namespace pdftopjl::app {

namespace {

// By printer and job number, never by the job's address: a job that ends
// without the completed event must not hand its passcode to a later job
// that happens to reuse the memory.
using JobKey = std::pair<int, int>;

JobKey keyOf(pappl_job_t* job)
{
    return {papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)};
}

std::mutex storeLock;
std::map<JobKey, JobPassword> store;

// The passcode of the request this thread is handling, until its job exists.
thread_local std::optional<JobPassword> pending;

void wipe(JobPassword& password)
{
    explicit_bzero(password.value.data(), password.value.size());
    password.value.clear();
}

void dropPending()
{
    if (pending) wipe(*pending);
    pending.reset();
}

}  // namespace

std::optional<JobPassword> RequestPassword(ipp_t* request)
{
    ipp_attribute_t* attr = ippFindAttribute(request, "job-password", IPP_TAG_ZERO);
    if (attr == nullptr || ippGetGroupTag(attr) != IPP_TAG_OPERATION) return std::nullopt;
    JobPassword password;
    if (ippGetValueTag(attr) == IPP_TAG_STRING) {
        int length = 0;
        const void* bytes = ippGetOctetString(attr, 0, &length);
        if (bytes != nullptr) password.value.assign(static_cast<const char*>(bytes), length);
    } else if (const char* value = ippGetString(attr, 0, nullptr)) {
        password.value = value;
    }
    if (const char* encryption =
            ippGetString(ippFindAttribute(request, "job-password-encryption", IPP_TAG_ZERO), 0, nullptr))
        password.encryption = encryption;
    return password;
}

namespace {

// PAPPL asks only for clients on loopback or over TLS; who may do what is
// AdmitRequest's.
http_status_t authorizeRequest(pappl_client_t* client, const char*, gid_t, void*)
{
    ipp_t* request = papplClientGetRequest(client);
    const ipp_op_t op = request != nullptr ? ippGetOperation(request) : IPP_OP_CUPS_INVALID;
    dropPending();
    const http_status_t admitted = AdmitRequest(client);
    // Not for a request answered with a refusal: it makes no job and changes nothing.
    if (admitted != HTTP_STATUS_CONTINUE || request == nullptr ||
        httpGetState(papplClientGetHTTP(client)) == HTTP_STATE_WAITING ||
        ippGetStatusCode(papplClientGetResponse(client)) != IPP_STATUS_OK)
        return admitted;
    if (op == IPP_OP_PRINT_JOB || op == IPP_OP_CREATE_JOB) pending = RequestPassword(request);
    TakeOverSetPrinterAttributes(client);
    return admitted;
}

void onEvent(pappl_system_t*, pappl_printer_t*, pappl_job_t* job, pappl_event_t event, void*)
{
    if (job == nullptr) return;
    if (event == PAPPL_EVENT_JOB_CREATED) {
        if (pending) {
            WritePasscodeFile(job, pending->value, pending->encryption);
            std::lock_guard<std::mutex> hold(storeLock);
            store[keyOf(job)] = *pending;
        }
        dropPending();
    } else if (event == PAPPL_EVENT_JOB_COMPLETED) {
        RemovePasscodeFile(job);
        std::lock_guard<std::mutex> hold(storeLock);
        if (auto it = store.find(keyOf(job)); it != store.end()) {
            wipe(it->second);
            store.erase(it);
        }
    }
}

}  // namespace

void InstallPasscodeHooks(pappl_system_t* system)
{
    if (papplSystemGetAuthService(system) != nullptr) return;
    papplSystemSetAuthCallback(system, "Basic", authorizeRequest, nullptr);
    papplSystemSetEventCallback(system, onEvent, nullptr);
}

std::optional<JobPassword> TakeJobPassword(pappl_job_t* job, bool* lost)
{
    std::lock_guard<std::mutex> hold(storeLock);
    auto it = store.find(keyOf(job));
    if (it == store.end()) {
        // A job from before a restart.
        JobPassword password;
        bool unreadable = false;
        const bool found = ReadPasscodeFile(job, &password.value, &password.encryption, &unreadable);
        if (lost != nullptr) *lost = unreadable;
        RemovePasscodeFile(job);
        if (!found) return std::nullopt;
        return password;
    }
    RemovePasscodeFile(job);
    JobPassword password = it->second;
    wipe(it->second);
    store.erase(it);
    return password;
}

}  // namespace pdftopjl::app
