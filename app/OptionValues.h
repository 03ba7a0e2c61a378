#pragma once

// The values options take, read from their text. Each returns false for a text it does not take.

// atoi's reading of text (white space, sign, digits) limited to the valid port range; only
// white space may follow the digits.
bool ParsePortNumber(const char* text, int& port);
// Plain decimal digits only, 1 to MaxReadSize: a size is never guessed from a typo.
bool ParseReadSize(const char* text, int& size);
// A flash address: decimal digits, or 0x and hexadecimal digits; below ImageCapacity.
bool ParseFlashAddress(const char* text, int& address);
