// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

#include "pjl/status.hpp"

namespace pdftopjl {

// What the printer says on a back channel during its job (under CUPS the
// descriptor the backend copies the printer's answers to): each state it
// reports goes to the caller's hook, once until it changes.
class PrinterWatch {
public:
    using Report = std::function<void(const PrinterCondition&)>;
    // `colour`: the printer has colour toners, so a low one is not named.
    PrinterWatch(int fd, bool colour, Report report);

    // Takes what has arrived, never waiting: the job is not held up.
    void Poll();
    // Once the job has been handed on whole: what the printer says until
    // the channel closes (its sender is done), `limitMs` have passed or the
    // job is cancelled.
    void Listen(int limitMs);

private:
    // False once the channel is closed or fails.
    bool readSome();

    int fd_;
    bool colour_;
    Report report_;
    PjlStatusStream stream_;
    bool open_ = true;
    bool reported_ = false;
    PrinterCondition last_;
};

}  // namespace pdftopjl
