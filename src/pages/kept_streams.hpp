// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <map>
#include <utility>

#include "job/fd.hpp"

namespace pdftopjl {

// Stream data made before qpdf writes the document (page images, compressed
// as they were painted or received), kept in an unlinked temporary file and
// handed to qpdf as it writes each stream: memory stays at one stream
// however many pages there are, and the file is gone with the process
// whatever happens.  Used as the provider of every stream it keeps:
//   stream.replaceStreamData(kept, filter, parameters);
//   kept->begin(stream.getObjGen()); kept->write(...)...
class KeptStreams : public QPDFObjectHandle::StreamDataProvider {
public:
    // The data that follows, up to the next begin, is the stream's.  Each
    // false, errno set, once the file could not be made or written.
    bool begin(QPDFObjGen stream);
    bool write(const void* data, size_t size);

    void provideStreamData(QPDFObjGen const& stream, Pipeline* out) override;

private:
    job::UniqueFd fd_;
    uint64_t size_ = 0;
    std::pair<uint64_t, uint64_t>* current_ = nullptr;
    std::map<QPDFObjGen, std::pair<uint64_t, uint64_t>> places_;  // offset, size
};

}  // namespace pdftopjl
