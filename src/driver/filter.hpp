#pragma once

// The filter's entry point: runs one job and returns the exit status.
int FilterMain(int argc, char* argv[]);
