// The kinds of source a link's file is asked from, one row each: everything the programs say
// and decide about a kind reads its row. A new kind is a value and a row here, a downloader for
// it and its place in platform/sources.cpp.
#pragma once

#include <cstddef>
#include <iterator>

#include "core/text.h"

namespace velindra {

enum class SourceKind {
    Mirror,       // a torrent cache
    LinkAddress,  // an address of the .torrent file that the link itself names (xs=, as=)
    Network,      // the BitTorrent network, asked with the whole link
};

// What the sources of a kind are asked with for a link.
enum class Asked {
    EachMirror,       // one request for each cache, its address made from the info-hash
    EachLinkAddress,  // one request for each address of the file that the link names
    Once,             // one request with the whole link
};

struct SourceKindRow {
    SourceKind kind;
    Asked asked;
    const char* name;  // in machine-read output ("mirror"), with its number unless asked once
    Text label;        // what one is called, "%1" its number among those of its kind
    const char* all;   // all of the kind, in Chinese, before what they answered ("镜像都")
    // What the windows' failure box says when every one of the kind answered that it does not
    // have the file; none when it says what each answered.
    const char* noneHadIt;
    // The progress displays while one is asked: "%1" its number, "%2" the host asked, "%3" the
    // peers connected; the command line's short form, and the windows' sentence.
    Text brief;
    const char* sentence;
    // The link itself named the addresses asked: a redirect is followed only after it was
    // looked at, and no address on this machine or a private network is asked unless allowed.
    bool namedByLink;
    // Its answer waits on the network: it is left pending while the next link goes on, and the
    // progress displays count its peers and DHT nodes.
    bool waitsOnNetwork;
};

// In the order the sources are asked.
inline constexpr SourceKindRow kSourceKinds[] = {
    {SourceKind::Mirror,
     Asked::EachMirror,
     "mirror",
     {"镜像 %1", "mirror %1"},
     "镜像都",
     "镜像都没有这个种子",
     {"镜像 %1", "mirror %1"},
     "正在从镜像 %1 获取种子：%2",
     false,
     false},
    {SourceKind::LinkAddress,
     Asked::EachLinkAddress,
     "address",
     {"链接中的地址 %1", "the link's address %1"},
     "链接中的",
     nullptr,
     {"地址 %1", "address %1"},
     "正在从链接中的地址获取种子：%2",
     true,
     false},
    {SourceKind::Network,
     Asked::Once,
     "network",
     {"BitTorrent 网络", "the BitTorrent network"},
     "BitTorrent 网络",
     nullptr,
     {"网络, 已连接 %3 个节点", "network, %3 peers"},
     "正在从 BitTorrent 网络获取种子信息，已连接 %3 个节点",
     true,
     true},
};
inline constexpr size_t kSourceKindCount = std::size(kSourceKinds);

constexpr const SourceKindRow& RowOf(SourceKind kind) {
    return kSourceKinds[static_cast<size_t>(kind)];
}

// Every row stands at its kind's place.
constexpr bool InOrder() {
    for (size_t k = 0; k < kSourceKindCount; ++k) {
        if (static_cast<size_t>(kSourceKinds[k].kind) != k)
            return false;
    }
    return true;
}
static_assert(InOrder(), "a kind's row stands at its value's place");

}  // namespace velindra
