// Base64 decoding (standard alphabet, '=' as the pad mark) for the texts the module keeps
// encoded, such as the server URL template.
#pragma once

#include "afxstr.h"

// Decodes the text of `encoded` up to its first NUL and returns the decoded text, itself cut
// at its first NUL byte.
CString DecodeBase64String(CString encoded);

// Decodes the NUL-terminated text in `buffer` over itself, writes a NUL after the decoded
// bytes and returns their number. Decoding stops at the first character outside the alphabet;
// a group of four whose first or second place is the pad mark yields nothing, and a trailing
// group of fewer than four characters is dropped.
int DecodeBase64InPlace(char* buffer);
