// Which map page a configuration shows, and the page copy that carries the
// user's map-service key.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velmor {

inline constexpr int kMapTypeWeb = 0;      // the tile map page
inline constexpr int kMapTypeService = 1;  // the map-service pages, one per language
inline constexpr int kMapTypeOffline = 2;  // a local tile file, shown in the tile map page

// The file name of the page under chart/: "amapMap.html" for map types 0
// and 2 (and any unknown type), for type 1 "GoogleMap.html",
// "GoogleMapTW.html" or "GoogleMapEN.html" by language 0, 1 or 2; the
// languages without a page of their own get the English one.
std::string MapPageName(int mapType, int language);

// True for the pages that reference the map service and take a key.
bool MapPageTakesKey(int mapType);

// The text that marks the service's script address in a page, and the
// parameter that ends the key.
inline constexpr std::string_view kMapKeyMarker = "/maps/api/js?v=3.exp&key=";
inline constexpr std::string_view kMapKeyEnd = "&language=";

// The key as it may stand in an address: letters, digits, '-', '_', '.'
// and '~' as they are, every other byte as %XX, so that no key can end
// the address or the script line.
std::string MapKeyForAddress(std::string_view key);

// Puts `key` into the service's script line of `page`. Every line holding
// the marker followed later by the end parameter gets the key between the
// two unless the text there already equals it, letters compared without
// case. All other bytes, line ends included, stay as they are. `changed`
// tells whether any line was rewritten.
std::string ApplyMapKey(std::string_view page, std::string_view key, bool* changed = nullptr);

// Reads the installed page `source`, applies the key and writes the result
// to `copy` (its folder is made when missing): first into a temporary file
// beside it, then renamed over `copy`, so a failed write leaves no half
// page. The installed page is only read. False with `error` set on failure.
bool WriteKeyedPage(const std::filesystem::path& source, const std::filesystem::path& copy, std::string_view key,
                    std::string* error = nullptr);

}  // namespace velmor
