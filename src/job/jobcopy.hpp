// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>

#include "job/fd.hpp"

// The job copy: an administrator's capture of everything a job writes, for
// diagnosis.  A marker file switches it on and holds its settings, one
// "name=value" a line ('#' starts a comment):
//   directory=/var/spool/pdftopjl/jobcopy   where the copies go (the default);
//                                           "tmpdir" for $TMPDIR/pdftopjl-jobcopy
//   keep=20                                 the most copies kept (1 to 1000)
//   days=7                                  copies older than this are removed
//   passcodes=keep                          stored jobs' passcodes kept in clear
//                                           (masked as **** otherwise)
namespace pdftopjl::job {

struct JobCopySettings {
    std::string directory = "/var/spool/pdftopjl/jobcopy";
    size_t keep = 20;
    int days = 7;
    bool keepPasscodes = false;
};

inline constexpr char kJobCopyTempSubdirectory[] = "pdftopjl-jobcopy";

// The marker's settings; nothing when there is no marker.  A marker that
// others than its owner (root or this process's user) could change is not
// trusted: nothing, with the reason in `problem`.  Unknown or bad lines are
// ignored.
std::optional<JobCopySettings> ReadJobCopyMarker(const char* path, std::string* problem);

// A new copy file, mode 0600, in the settings' directory (made, mode 0700,
// when missing): "nd<local time stamp>.job", or "-2", "-3", ... joined to the
// name when it is taken.  Older copies beyond the count or the age are
// removed first.  The directory must be this user's and writable by no one
// else; no descriptor, with the reason in `problem`, otherwise.
UniqueFd CreateJobCopyFile(const JobCopySettings& settings, std::string* problem, time_t now);

}  // namespace pdftopjl::job
