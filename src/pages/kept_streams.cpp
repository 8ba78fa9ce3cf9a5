// SPDX-License-Identifier: Apache-2.0
#include "pages/kept_streams.hpp"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFSystemError.hh>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "job/tempfiles.hpp"

namespace pdftopjl {

namespace {

constexpr size_t kReadBack = 1 << 18;

}  // namespace

bool KeptStreams::begin(QPDFObjGen stream)
{
    if (!fd_) {
        job::TempFile file = job::CreateTempFile();
        if (!file.fd) return false;
        job::RemoveTempFile(file.path);
        fd_ = std::move(file.fd);
    }
    current_ = &(places_[stream] = {size_, 0});
    return true;
}

bool KeptStreams::write(const void* data, size_t size)
{
    if (current_ == nullptr) {
        errno = EINVAL;
        return false;
    }
    for (const char* p = static_cast<const char*>(data); size > 0;) {
        const ssize_t n = ::write(fd_.get(), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        size_ += static_cast<uint64_t>(n);
        current_->second += static_cast<uint64_t>(n);
    }
    return true;
}

void KeptStreams::provideStreamData(QPDFObjGen const& stream, Pipeline* out)
{
    auto [at, left] = places_.at(stream);
    std::vector<unsigned char> buffer(std::min<uint64_t>(std::max<uint64_t>(left, 1), kReadBack));
    while (left > 0) {
        const ssize_t n =
            pread(fd_.get(), buffer.data(), std::min<uint64_t>(left, buffer.size()), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        // qpdf passes this on from its writer; the errno says what failed.
        if (n <= 0) throw QPDFSystemError("the kept stream data", n < 0 ? errno : EIO);
        out->write(buffer.data(), static_cast<size_t>(n));
        at += static_cast<uint64_t>(n);
        left -= static_cast<uint64_t>(n);
    }
    out->finish();
}

}  // namespace pdftopjl
