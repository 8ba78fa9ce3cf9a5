#pragma once

// The local host name, at most 96 bytes, into a 97-byte buffer (empty when it
// cannot be read).
void getHostName(char* hostName);

// One numeric address of hostName into outString (outStringLen bytes).
// Returns 1 or 0 as the address selection decides.
int getHostAddress(const char* hostName, char* outString, int outStringLen);
