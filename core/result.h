// The one result every operation that reaches outside the program gives: done, or an error
// class with plain words for the command line and for tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velindra {

// Why an operation did not do its work; for downloads, why a source delivered no torrent file.
enum class FetchError {
    None,
    NoConnection,    // name lookup or connection failed
    NotAskedAgain,   // not asked: it could not be reached a moment before (detail: how many
                     // seconds before, "0.3")
    Timeout,         // no connection in time, or the transfer stalled
    HttpStatus,      // the server answered with an error status
    Redirect,        // too many redirects, a loop, or a redirect to another scheme
    NotHttp,         // the server did not answer in HTTP at all
    TooLarge,        // the body exceeded the size bound
    NotATorrent,     // the body is not a well-formed torrent file
    WrongTorrent,    // a torrent, but not the one the link names
    CannotWrite,     // the destination folder cannot take the file; no other source can help
    InvalidHash,     // the link's info-hash has no form that a delivered file could be checked
                     // against
    PrivateAddress,  // an address the link named is (or leads to) this machine or a private
                     // network, which the link may not make the program ask
    Cancelled,       // the user skipped the link
    Other,
};

// What a source found out about a failure, beyond its class: facts the programs have words for
// in both languages (core/words.cpp), where a library's or a server's own words would otherwise
// stand in the detail.
enum class Fact {
    None,
    Unreachable,       // no peer, no DHT node was reached
    ClosedByPeer,      // a peer took the connection and then closed it
    LostEveryone,      // every peer and DHT node reached was lost again
    NoMetadataInTime,  // peers were reached, the metadata did not come in time
    OutOfFiles,        // the system had no file descriptor left for a connection
    // What one tracker answered.
    TrackerNoAnswer,      // it took the connection, and did not answer in time
    TrackerTooLarge,      // its answer was larger than any real tracker's
    TrackerUnreachable,   // it could not be connected
    TrackerHttpStatus,    // it answered with an HTTP error
    TrackerRefused,       // it answered with a failure reason of its own
    TrackerNotContacted,  // on this machine, and not at a path a tracker has
    // What a web transfer ran into, by the transfer library's code: said in the program's
    // words in Chinese, in the library's own (which name the host) in English.
    HostNotFound,        // the host name has no address
    ConnectionRefused,   // nothing listens there, or a firewall said no
    CouldNotConnect,     // no connection for another reason (no route, the network is down)
    ConnectTimedOut,     // no connection, or no answer, in time
    TransferStalled,     // the answer stopped coming for longer than the bound
    ConnectionBroken,    // the connection was reset or closed half-way
    NothingReceived,     // the server closed the connection without a word
    SecureFailed,        // the TLS handshake failed
    CertificateRefused,  // the server's certificate could not be verified
};

// Whether a fact is one of a web transfer's (English keeps the library's words for it).
inline bool IsTransferFact(Fact fact) {
    return fact >= Fact::HostNotFound && fact <= Fact::CertificateRefused;
}

// What a tracker a link names answered its announce (shown by scheme, host and port).
struct TrackerAnswer {
    std::string tracker;
    Fact fact = Fact::None;
    int httpStatus = 0;
    bool operator==(const TrackerAnswer&) const = default;
};

// What a delivered torrent holds, for a script to check before it hands the file on.
struct TorrentFacts {
    std::string name;   // its own name, as its info dictionary writes it (UTF-8 where it says)
    uint64_t size = 0;  // the bytes of all its files, padding left out
    uint64_t files = 0;
    bool isPrivate = false;  // its info dictionary says "private"
    bool operator==(const TorrentFacts&) const = default;
};

// A checked file that a source wrote next to where it is to go, not yet in its place: a
// committer puts it there (FileCommitter). One that is dropped leaves no trace.
class StagedFile {
  public:
    virtual ~StagedFile() = default;
};

struct FetchResult {
    FetchError error = FetchError::Other;
    std::string detail;      // plain words for the command line and for tests
    Fact fact = Fact::None;  // when set, what the detail says in words of the program's
    int systemError = 0;     // the system's error number (errno) behind a CannotWrite, when known
    int httpStatus = 0;      // the server's status behind an HttpStatus, when there was one
    bool transient = false;  // trying again soon may help (refused, reset, busy, ...)
    long retryAfterSeconds = -1;  // how long the server asked to be left alone, when it did
    // For a source not asked again: how long its short back-off still lasts, after which it
    // may be asked (-1: it rests longer, or not at all).
    long restLeftMs = -1;
    uint64_t bytes = 0;  // what the answer brought
    // How the network went about it: peers dialled (-1: not the network) and connected at
    // most, and the DHT nodes it knew.
    int peersDialled = -1;
    int peersConnected = 0;
    int dhtNodes = 0;
    // For the network: what each tracker the link names answered, when it failed.
    std::vector<TrackerAnswer> trackerAnswers;
    // What a source delivered: the checked file, waiting to be put in its place.
    std::shared_ptr<StagedFile> staged = nullptr;
    std::optional<TorrentFacts> torrent;  // ... and what it holds
    bool ok() const { return error == FetchError::None; }

    static FetchResult Done(std::string detail = {}) {
        FetchResult done;
        done.error = FetchError::None;
        done.detail = std::move(detail);
        return done;
    }
    static FetchResult Failed(FetchError error, std::string detail, int systemError = 0) {
        FetchResult failed;
        failed.error = error;
        failed.detail = std::move(detail);
        failed.systemError = systemError;
        return failed;
    }
};

// A saved file on its way to disk.
class PendingCommit {
  public:
    virtual ~PendingCommit() = default;
    // Whether Wait would return at once.
    virtual bool Ended() = 0;
    // Returns once the file is durably in its place, or has failed and left no trace.
    virtual FetchResult Wait() = 0;
};

}  // namespace velindra
