// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Painting pages is poppler's work, and poppler brings some twenty libraries
// with it: it lives in a module of its own, loaded only by jobs that
// rasterise, behind this interface, with the compressor for what it paints.  The module and the filter are built
// together, so the interface is plain C++.
namespace pdftopjl {

// A document open in the painter.  Pages are numbered from 0.
class PaintableDocument {
public:
    virtual ~PaintableDocument() = default;
    virtual int pageCount() = 0;
    // The page's /Rotate as the painter applies it (0, 90, 180 or 270) and
    // its crop box in points (x, y, width, height).  False when the page
    // cannot be read.
    virtual bool pageShape(int page, int* degrees, double box[4]) = 0;
    // Paints rows [top, top + rows) of the page's crop box at `dpi` on white,
    // first turned by `turn` degrees (a multiple of 90), as RGB, 3 bytes a
    // pixel, `width` pixels a row, each row `*stride` bytes after the one
    // before.  The pixels are the caller's to change, until the next paint
    // or the document's end: not copied, since every page bitmap costs its
    // size again in fresh memory.  Null when it cannot paint, or when poppler
    // said it left part of the rows unpainted (memory it could not have, an
    // image it could not decode, a font it could not make), with what it
    // said in `why`: such rows are never used.
    virtual unsigned char* paintRows(int page, double dpi, int turn, int top, int width, int rows,
                                     size_t* stride, std::string* why) = 0;
};

class Painter {
public:
    // Poppler's complaints about a document, as they come: its own and
    // every line written to standard error while it works (the memory
    // allocator and the image decoders write there), which from then on goes
    // through the sink.
    using MessageSink = void (*)(const char* text, void* context);
    virtual void setMessageSink(MessageSink sink, void* context) = 0;
    // The document in memory, or when `data` is null (or too large for
    // poppler's memory reader) the one behind `fd`, read through its
    // descriptor, never by a name that may by now be another file.  Null
    // when it cannot be opened or needs a password.
    virtual std::unique_ptr<PaintableDocument> open(const void* data, size_t size, int fd) = 0;
    // A painted image compressed whole as a zlib stream (Flate) at `level`
    // into `packed`: its size, 0 when it cannot be.
    virtual size_t compress(const unsigned char* data, size_t size, int level,
                            std::unique_ptr<unsigned char[]>* packed) = 0;

protected:
    ~Painter() = default;  // the module's own, never deleted
};

// The module's file, found by the loader as the program's run path says:
// beside the program in the build tree, under the library directory once
// installed.
inline constexpr char kPainterModule[] = "pdftopjl-poppler.so";
// The module's one exported function, named for this interface's version.
inline constexpr char kPainterEntry[] = "pdftopjl_painter_2";
using PainterEntry = Painter* (*)();

// Loads the module the first time, then hands out the same painter.  Null,
// with the loader's reason, when it cannot be loaded.
Painter* LoadPainter(std::string* why);

}  // namespace pdftopjl
