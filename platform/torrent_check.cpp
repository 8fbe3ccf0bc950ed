#include "platform/digests.h"

namespace velindra {

FetchResult CheckDelivered(std::string_view body, const LinkHashes& hashes, size_t* length) {
    switch (CheckTorrent(body, hashes, kSystemDigests, length)) {
        case FetchError::None:
            return FetchResult::Done();
        case FetchError::WrongTorrent:
            return FetchResult::Failed(FetchError::WrongTorrent,
                                       "the torrent is for another info-hash");
        case FetchError::InvalidHash:
            return FetchResult::Failed(FetchError::InvalidHash, "the info-hash cannot be checked");
        case FetchError::Other:
            return FetchResult::Failed(FetchError::Other, "the answer could not be hashed");
        default:
            return FetchResult::Failed(FetchError::NotATorrent, "the answer is not a torrent file");
    }
}

}  // namespace velindra
