#pragma once

// The macOS print system always sends the duplexing ticket, filled from the
// PPD's Duplex setting.  Jobs from other CUPS clients do not, so there the
// job's "sides" option, then its "Duplex" option, then the PPD's default
// Duplex choice stand in for it: 1 one-sided, 2 long-edge, 3 short-edge.
// -1 when none of them says anything usable.
int DuplexingFromCupsOptions(const char* optionText);
