#pragma once

#include <string>

// Sound PDFs of one page, an inch square, that would take forever or all
// memory to render.
namespace testsupport {

// Forms forty deep, each drawing the next twice: 2^40 squares.
std::string EndlessNestedForms();
// A form field whose appearance is those forms.
std::string EndlessFieldDrawingForms();
// One content stream of 35 million tiny squares, each its own path: far
// longer to paint than any page's time limit.
std::string MillionsOfPaths();
// Page content that inflates to a gigabyte of spaces, a megabyte in the file:
// redrawn, qpdf would gather twice that in memory.
std::string InflatingToAGigabyte();

}  // namespace testsupport
