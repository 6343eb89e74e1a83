// Numbers from the harvested texts.
#pragma once

// Signed decimal degrees from a "deg, min, sec" text: tokens split at commas
// and blanks, each read from its start. Negative when the reference is
// exactly "S" or "W".
double DegreesFromText(const char *coordinate, const char *reference);

// The text's leading decimal number divided by 1000.
double AltitudeFromText(const char *text);
