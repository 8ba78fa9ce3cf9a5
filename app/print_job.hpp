// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

// PAPPL's callbacks for a job: every document becomes a PDF that the core
// turns into the printer's job stream.
namespace pdftopjl::app {

// application/pdf, sent on as it is.
bool PrintPdf(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// image/jpeg → application/pdf, the image itself in the PDF.
bool PrintJpeg(pappl_job_t* job, pappl_device_t* device, void* data);

// application/octet-stream that PAPPL could not type: the job fails, saying
// why (IPP clients are refused earlier; the local socket is not asked).
bool RefuseUntyped(pappl_job_t* job, pappl_device_t* device, void* data);

// PWG and Apple raster, and the images PAPPL decodes (PNG): one page image
// each, collected into a PDF and printed when the job ends.
bool RasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool RasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool RasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

}  // namespace pdftopjl::app
