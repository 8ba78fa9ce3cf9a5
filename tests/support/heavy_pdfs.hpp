// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

// Sound PDFs of one page, an inch square, that would take forever or all
// memory to render, and documents and PPDs built to exhaust the job itself.
namespace testsupport {

// Forms forty deep, each drawing the next twice: 2^40 squares.
std::string EndlessNestedForms();
// A form field whose appearance is those forms.
std::string EndlessFieldDrawingForms();
// One content stream of 35 million tiny squares, each its own path: far
// longer to paint than any page's time limit.
std::string MillionsOfPaths();
// Page content that inflates to `mebibytes` of spaces: redrawn, qpdf would
// gather twice that in memory.  A thousandth of that in the file when small
// (slow to make), else a quarter of a hundredth.
std::string InflatingTo(int mebibytes, bool smallFile);
// An image whose JBIG2 data, a hundred bytes, claims a page of 65000 x 65000
// pixels: half a gigabyte for poppler to allocate.
std::string Jbig2Bomb();
// An image whose JPEG data is no JPEG.
std::string UndecodableImage();
// A square drawn by content holding an operator no PDF has: poppler
// complains and paints the rest.
std::string UnknownOperator();

// One page, its cross-reference stream claiming `objects` objects (all but a
// few free): a third of a megabyte for fifty million.
std::string XrefClaimingObjects(int64_t objects);
// Writes at `path` a one-page document whose page tree is in an object
// stream padded with `padding` NUL bytes (PDF white space), left sparse.
void WritePaddedObjectStream(const std::string& path, int64_t padding);
// `count` empty letter pages.
std::string BlankPages(int count);
// A valid PPD grown to `bytes` with options of one choice each, `base` first.
std::string PpdOfManyOptions(const std::string& base, size_t bytes);

}  // namespace testsupport
