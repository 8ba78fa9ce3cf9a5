// SPDX-License-Identifier: Apache-2.0
#include "support/process.hpp"

#include <sys/socket.h>

#include <netinet/in.h>

#include <arpa/inet.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

long long nowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

std::string FilterBinary() { return PDFTOPJL_BINARY; }

bool HasSanitizerReport(const std::string& err)
{
    return err.find("runtime error:") != std::string::npos ||
           err.find("AddressSanitizer") != std::string::npos ||
           err.find("LeakSanitizer") != std::string::npos ||
           err.find("UndefinedBehaviorSanitizer") != std::string::npos;
}

RunResult RunProgram(const RunOptions& options)
{
    // A child that stops reading early must not take the test down.
    signal(SIGPIPE, SIG_IGN);
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC))
        throw std::runtime_error("pipe failed");

    std::string program = options.program.empty() ? FilterBinary() : options.program;
    std::vector<std::string> args = options.args;
    // When to send the signal: once the caller's condition holds, else after
    // the given time.
    auto ready = [&](long long elapsedMs) {
        return options.signalWhen ? options.signalWhen() : elapsedMs >= options.signalAfterMs;
    };
    if (args.empty()) args.push_back(program);

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        if (options.fileSizeLimit > 0) {
            // Writes past the limit fail with EFBIG instead of killing the child.
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
        if (options.closeStdin) {
            close(0);
        } else if (options.stdinFile) {
            int fd = open(options.stdinFile->c_str(), O_RDONLY);
            if (fd < 0) _exit(126);
            dup2(fd, 0);
        } else {
            dup2(inPipe[0], 0);
        }
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (const auto& [name, value] : options.env) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    int inFd = inPipe[1];
    if (options.stdinFile) {
        close(inFd);
        inFd = -1;
    }
    fcntl(inFd, F_SETFL, O_NONBLOCK);
    int outFd = outPipe[0], errFd = errPipe[0];

    RunResult result;
    size_t inPos = 0;
    const long long start = nowMs();
    bool signalled = false;
    long long signalledAt = 0;
    int keptIn = -1;
    if (options.keepStdinOpen && options.input.empty()) {
        keptIn = inFd;
        inFd = -1;
    }
    if (inFd >= 0 && options.input.empty() && !options.keepStdinOpen) {
        close(inFd);
        inFd = -1;
    }
    char buf[65536];
    while (outFd >= 0 || errFd >= 0) {
        long long elapsed = nowMs() - start;
        if (elapsed > options.timeoutMs) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (options.signalToSend && !signalled && ready(elapsed)) {
            kill(pid, options.signalToSend);
            signalled = true;
            signalledAt = nowMs();
        }
        struct pollfd fds[3];
        int n = 0;
        int idxIn = -1, idxOut = -1, idxErr = -1;
        if (inFd >= 0) { idxIn = n; fds[n++] = {inFd, POLLOUT, 0}; }
        if (outFd >= 0) { idxOut = n; fds[n++] = {outFd, POLLIN, 0}; }
        if (errFd >= 0) { idxErr = n; fds[n++] = {errFd, POLLIN, 0}; }
        int ready = poll(fds, n, 50);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (idxIn >= 0 && (fds[idxIn].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = write(inFd, options.input.data() + inPos, options.input.size() - inPos);
            if (w > 0) inPos += static_cast<size_t>(w);
            if (w < 0 && errno != EAGAIN) inPos = options.input.size();
            if (inPos >= options.input.size()) {
                if (!options.keepStdinOpen) close(inFd);
                inFd = -1;  // a kept descriptor is closed after the wait
                if (options.keepStdinOpen) keptIn = inPipe[1];
            }
        }
        if (idxOut >= 0 && (fds[idxOut].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t r = read(outFd, buf, sizeof buf);
            if (r > 0) {
                result.out.append(buf, static_cast<size_t>(r));
                if (options.closeStdoutAfter && result.out.size() >= options.readLimit) {
                    close(outFd);
                    outFd = -1;
                }
            } else if (r == 0 || errno != EINTR) {
                close(outFd);
                outFd = -1;
            }
        }
        if (idxErr >= 0 && (fds[idxErr].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t r = read(errFd, buf, sizeof buf);
            if (r > 0)
                result.err.append(buf, static_cast<size_t>(r));
            else if (r == 0 || errno != EINTR) {
                close(errFd);
                errFd = -1;
            }
        }
    }
    if (inFd >= 0) close(inFd);
    if (outFd >= 0) close(outFd);
    if (errFd >= 0) close(errFd);
    int status = 0;
    struct rusage usage{};
    if (keptIn >= 0 && !result.timedOut) {
        // Standard input stays open until the child is gone.
        while (wait4(pid, &status, WNOHANG, &usage) == 0) {
            if (nowMs() - start > options.timeoutMs) {
                result.timedOut = true;
                kill(pid, SIGKILL);
                break;
            }
            if (options.signalToSend && !signalled && ready(nowMs() - start)) {
                kill(pid, options.signalToSend);
                signalled = true;
                signalledAt = nowMs();
            }
            usleep(10000);
        }
    }
    if (keptIn >= 0) close(keptIn);
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.maxRssKb = usage.ru_maxrss;
    if (signalled) result.msAfterSignal = nowMs() - signalledAt;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

int FreeLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

bool ListeningOnLoopback(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

std::string WaitForListener(int* pid, int port)
{
    for (int i = 0; i < 200; ++i) {
        if (ListeningOnLoopback(port)) return "";
        int status;
        if (waitpid(*pid, &status, WNOHANG) == *pid) {
            *pid = -1;
            return "exited";
        }
        usleep(50000);
    }
    return "not listening";
}

void StopChild(int* pid, int graceMs)
{
    if (*pid <= 0) return;
    kill(*pid, SIGTERM);
    for (int waited = 0; waited < graceMs; waited += 50) {
        int status;
        if (waitpid(*pid, &status, WNOHANG) == *pid) {
            *pid = -1;
            return;
        }
        usleep(50000);
    }
    kill(*pid, SIGKILL);
    waitpid(*pid, nullptr, 0);
    *pid = -1;
}

}  // namespace testsupport
