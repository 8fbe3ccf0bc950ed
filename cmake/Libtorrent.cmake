# libtorrent, found as built: for release, both Debian's and the one scripts/libtorrent-windows
# makes. Its debug-only checks change what its headers declare, so a debug build of ours does not
# turn them on against it.
macro(velindra_find_libtorrent)
    find_package(LibtorrentRasterbar REQUIRED)
    get_target_property(_velindra_lt_definitions LibtorrentRasterbar::torrent-rasterbar
                        INTERFACE_COMPILE_DEFINITIONS)
    list(FILTER _velindra_lt_definitions EXCLUDE REGEX "TORRENT_USE_ASSERTS")
    set_property(TARGET LibtorrentRasterbar::torrent-rasterbar
                 PROPERTY INTERFACE_COMPILE_DEFINITIONS "${_velindra_lt_definitions}")
endmacro()
