// The torrent caches a link's file is asked from, in their fixed order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velindra {

// The caches, as URL templates with the placeholders {hash}, {first2} and {last2}.
const std::vector<std::string>& BuiltInMirrors();

// Fills in the hash, its first two and its last two characters (a shorter hash is used whole).
std::string BuildMirrorUrl(std::string_view urlTemplate, std::string_view infoHash);

}  // namespace velindra
