// Where a picture was taken, by name: its country by the borders, its
// region where the borders have regions, and the nearest town of that
// country.
#pragma once

#include <string>
#include <string_view>

// "Florence, Italy", "Austin, Texas, United States": the smallest first;
// empty at sea.
std::string PlaceOf(const std::string &latitude, const std::string &longitude);
// The same, the largest first, a unit separator between: pictures sorted by
// it are grouped by country, then region, then town.
std::string PlaceKeyOf(const std::string &latitude, const std::string &longitude);
// The place a key names, the smallest first.
std::string ShownPlace(std::string_view key);
