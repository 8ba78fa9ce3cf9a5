// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <chrono>
#include <string>

// Where a job's stream goes, and how it gets there so that a printer that
// stops taking data never holds a job (or the server's shutdown) for good.
namespace pdftopjl::app {

// Replaces PAPPL's file: scheme before PAPPL sets up its own (call first
// thing).  PAPPL's opens a folder's "<job name>.prn" for each job,
// truncating an earlier job's file of that name; this one creates a file
// only when something is written, never over an existing one.
void InstallFileScheme();

// The connection of a network device (PAPPL 1.3 keeps it as the first
// member of the device's data), checked to be a connected socket; -1 when
// the device has none.
int DeviceConnection(pappl_device_t* device);

class JobOutput {
public:
    // `shared` is the device PAPPL opened for the job.
    JobOutput(pappl_job_t* job, pappl_device_t* shared);
    ~JobOutput();
    JobOutput(const JobOutput&) = delete;
    JobOutput& operator=(const JobOutput&) = delete;

    // False when the device failed or stalled, or, once the job is
    // cancelled, takes no data for a few seconds (Error() says which).
    bool Write(const char* data, size_t size);
    // Sends what is buffered; the job's file in a folder stays.
    void Finish();
    const std::string& Error() const { return error_; }

private:
    bool writeSocket(const char* data, size_t size);

    pappl_job_t* job_;
    pappl_device_t* device_;
    pappl_device_t* own_ = nullptr;
    int socket_ = -1;
    bool folder_ = false;
    bool finished_ = false;
    std::string error_;
    std::chrono::steady_clock::time_point canceledAt_{};
};

}  // namespace pdftopjl::app
