#include "cli/serve.h"

// cpp-httplib reads and writes the HTTP; Velindra only answers.
#include <httplib.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <semaphore>
#include <thread>

#include "cli/link_run.h"
#include "cli/store.h"
#include "core/links.h"
#include "core/text_values.h"
#include "core/torrent.h"
#include "core/utf8.h"
#include "platform/addresses.h"
#include "platform/digests.h"
#include "platform/file_reading.h"
#include "platform/folder_watch.h"
#include "platform/host_paths.h"
#include "platform/user_folders.h"
#include "platform/utf16.h"

namespace velindra::cli {

namespace {

namespace t = cli_texts;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Look-ups at once; a request beyond them waits its turn up to its deadline.
constexpr std::ptrdiff_t kLookupsAtOnce = 32;
// How long a request may wait for its answer, its turn included.
constexpr auto kDeadline = std::chrono::seconds(150);
// Connections served at once (more wait for a free one), and how long a slow or idle client may
// take before it is dropped.
constexpr size_t kConnections = 64;
constexpr time_t kClientSeconds = 10;
// A request's headers together: more is refused (431).
constexpr size_t kHeaderBytes = 16 * 1024;
// How often the network's state is kept while the server runs.
constexpr auto kCheckpoint = std::chrono::minutes(5);

bool IsLoopback(const std::string& host) {
    if (host == "localhost")
        return true;
    const std::optional<IpAddress> address = ParseAddress(host);
    if (!address)
        return false;
    if (!address->v6)
        return address->bytes[0] == 127;
    IpAddress one;
    one.v6 = true;
    one.bytes[15] = 1;
    return *address == one;
}

// Compares in time that does not depend on where the texts differ.
bool SameSecret(const std::string& given, const std::string& secret) {
    unsigned char differ = given.size() != secret.size();
    for (size_t i = 0; i < secret.size(); ++i)
        differ |= static_cast<unsigned char>(
            (i < given.size() ? static_cast<unsigned char>(given[i]) : 0) ^
            static_cast<unsigned char>(secret[i]));
    return differ == 0;
}

// The link a hash in the path stands for; empty when it is no hash.
std::string LinkForHash(const std::string& hash) {
    if (hash.size() == 64)
        return V2HashBytes(hash) ? "magnet:?xt=urn:btmh:1220" + hash : std::string();
    return InfoHashBytes(hash) ? "magnet:?xt=urn:btih:" + hash : std::string();
}

// A file name in a Content-Disposition header: ASCII with the rest as "_", and the whole name
// in RFC 5987's form beside it.
std::string Disposition(const std::string& name) {
    std::string plain, encoded;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool safe = byte < 0x80 && (std::isalnum(byte) || std::strchr("-._~ ()[]", c));
        plain += safe ? c : '_';
        if (safe && c != ' ') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encoded;
}

// What a look-up came to, shared by every request for its hash.
struct Reply {
    int status = 404;
    std::string body;    // the torrent, or the reasons
    std::string name;    // the file name the link gives it
    std::string source;  // where it came from: "store", "mirror 1", ...
};

class Server {
  public:
    Server(const Options& options, const Console& console, BatchSources& sources)
        : options_(StoreOptions(options)),
          console_(console),
          sources_(sources),
          lookups_(kLookupsAtOnce) {}

    // Serves until stopped; an exit status when it could not listen.
    int Run(const std::string& host, int port);

  private:
    static Options StoreOptions(Options options) {
        options.output = TorrentStore::ForThisUser().folder();
        options.settings.usedn = false;  // kept by hash
        options.nameAfterTorrent = false;
        options.noClobber = false;
        options.quiet = true;
        options.json = false;
        options.unordered = false;
        options.jobs = 1;
        return options;
    }

    bool Allowed(const httplib::Request& request, httplib::Response& response) const;
    void Answer(const httplib::Request& request, httplib::Response& response,
                const std::string& link);
    Reply Look(const LinkPlan& plan, const std::string& link);
    Reply Fetch(const LinkPlan& plan, const std::string& link);
    void Routes(httplib::Server& server);

    const Options options_;
    const Console& console_;
    BatchSources& sources_;
    std::counting_semaphore<kLookupsAtOnce> lookups_;
    std::mutex lock_;
    // The look-ups under way, by the file they make: a second request for one waits for it.
    std::map<std::string, std::shared_future<Reply>> flights_;
    TorrentStore& store_ = TorrentStore::ForThisUser();
    std::string host_;
    int port_ = 0;
    std::string token_ = options_.token;
};

// The request's Host names this server (a page in the user's browser must not reach it by
// DNS rebinding), and it carries the token when one is asked for.
bool Server::Allowed(const httplib::Request& request, httplib::Response& response) const {
    if (request.has_header("Host")) {
        std::string host = request.get_header_value("Host");
        const size_t colon = host.rfind(':');
        if (colon != std::string::npos && host.find(']') < colon) {
            host = host.substr(0, colon);
        } else if (colon != std::string::npos && host.find(']') == std::string::npos &&
                   host.find(':') == colon) {
            if (host.substr(colon + 1) != std::to_string(port_)) {
                response.status = 403;
                return false;
            }
            host = host.substr(0, colon);
        }
        if (host.size() > 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host != "localhost" && host != host_ && !(IsLoopback(host) && IsLoopback(host_))) {
            response.status = 403;
            response.set_content("the Host header names another server\n", "text/plain");
            return false;
        }
    }
    if (token_.empty())
        return true;
    std::string given = request.get_param_value("token");
    const std::string authorization = request.get_header_value("Authorization");
    if (authorization.rfind("Bearer ", 0) == 0)
        given = authorization.substr(7);
    if (SameSecret(given, token_))
        return true;
    response.status = 401;
    response.set_header("WWW-Authenticate", "Bearer");
    response.set_content("a token is needed\n", "text/plain");
    return false;
}

// Asks the sources as a run of one link does, its file kept in the store.
Reply Server::Fetch(const LinkPlan& plan, const std::string& link) {
    Reply answer;
    answer.name = plan.fileName;
    if (!lookups_.try_acquire_for(kDeadline)) {
        answer.status = 503;
        answer.body = "too many look-ups at once\n";
        return answer;
    }
    const PathRules rules = HostPathRules();
    const BatchPlanner planner(
        1, [&](size_t) { return link.substr(kMagnetMarker.size()); }, false, options_.output,
        rules);
    Outcome outcome;
    LinkRun(options_, console_, planner, rules, plan.destination, &sources_,
            [&](size_t, const LinkPlan&, const Outcome& o) { outcome = o; })
        .Execute();
    lookups_.release();
    if (outcome.ok()) {
        if (std::optional<std::string> body = store_.Read(*plan.hashes)) {
            answer.status = 200;
            answer.body = std::move(*body);
            answer.source = SourceLabel(outcome.result);
            store_.Added(answer.body.size());
            return answer;
        }
    }
    answer.body = (outcome.reason.empty() ? std::string("not found") : outcome.reason) + "\n";
    return answer;
}

// One look-up a file at a time: later requests for it share the first one's answer.
Reply Server::Look(const LinkPlan& plan, const std::string& link) {
    if (std::optional<std::string> body = store_.Read(*plan.hashes))
        return {200, std::move(*body), plan.fileName, "store"};
    std::promise<Reply> mine;
    std::shared_future<Reply> flight;
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto [at, fresh] = flights_.try_emplace(plan.destination, mine.get_future().share());
        flight = at->second;
        first = fresh;
    }
    if (!first)
        return flight.get();
    Reply answer = Fetch(plan, link);
    mine.set_value(answer);
    std::lock_guard<std::mutex> guard(lock_);
    flights_.erase(plan.destination);
    return answer;
}

void Server::Answer(const httplib::Request& request, httplib::Response& response,
                    const std::string& link) {
    const Clock::time_point began = Clock::now();
    if (!Allowed(request, response))
        return;
    LinkPlan plan = PlanLink(link.starts_with(kMagnetMarker)
                                 ? std::string_view(link).substr(kMagnetMarker.size())
                                 : std::string_view(),
                             false, options_.output, HostPathRules());
    if (plan.fetchable())
        plan.destination = store_.PathOf(*plan.hashes);
    const LinkPlan named =
        PlanLink(std::string_view(link).substr(kMagnetMarker.size()), true, "", HostPathRules());
    if (!link.starts_with(kMagnetMarker) || !plan.fetchable()) {
        response.status = 400;
        response.set_content(Refused(plan).reason + "\n", "text/plain; charset=utf-8");
        return;
    }
    const Reply answer = Look(plan, link);
    response.status = answer.status;
    if (answer.status == 200) {
        response.set_header("Content-Disposition", Disposition(named.fileName));
        response.set_content(answer.body, "application/x-bittorrent");
    } else {
        response.set_content(answer.body, "text/plain; charset=utf-8");
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.3f s", seconds);
    std::cerr << t::kProgram << ": "
              << EscapeControls(request.method + " " + plan.hashes->V1Text() +
                                plan.hashes->V2Text() + " " + std::to_string(answer.status) +
                                (answer.source.empty() ? "" : " " + answer.source) + " " + took)
              << std::endl;
}

// The two paths a cache answers on; other methods there are 405.
void Server::Routes(httplib::Server& server) {
    server.Get(R"(/torrent/([^/]+)\.torrent)",
               [this](const httplib::Request& q, httplib::Response& r) {
                   const std::string link = LinkForHash(q.matches[1]);
                   if (link.empty()) {
                       if (Allowed(q, r)) {
                           r.status = 400;
                           r.set_content(Say(t::kServeBadHash) + "\n", "text/plain; charset=utf-8");
                       }
                       return;
                   }
                   Answer(q, r, link);
               });
    server.Get("/torrent", [this](const httplib::Request& q, httplib::Response& r) {
        Answer(q, r, q.get_param_value("magnet"));
    });
    const auto notAllowed = [](const httplib::Request&, httplib::Response& r) {
        r.status = 405;
        r.set_header("Allow", "GET, HEAD");
    };
    for (const char* path : {R"(/torrent/.*)", "/torrent"}) {
        server.Post(path, notAllowed);
        server.Put(path, notAllowed);
        server.Delete(path, notAllowed);
        server.Patch(path, notAllowed);
        server.Options(path, notAllowed);
    }
}

int Server::Run(const std::string& host, int port) {
    httplib::Server server;
    host_ = host;
    server.new_task_queue = [] { return new httplib::ThreadPool(kConnections); };
    server.set_read_timeout(kClientSeconds, 0);
    server.set_write_timeout(kClientSeconds, 0);
    server.set_keep_alive_timeout(5);
    server.set_payload_max_length(64 * 1024);
    server.set_tcp_nodelay(true);  // headers and body are written apart: no wait between them
    server.set_pre_routing_handler([](const httplib::Request& q, httplib::Response& r) {
        size_t bytes = 0;
        for (const auto& [name, value] : q.headers)
            bytes += name.size() + value.size() + 4;
        if (bytes <= kHeaderBytes)
            return httplib::Server::HandlerResponse::Unhandled;
        r.status = 431;
        return httplib::Server::HandlerResponse::Handled;
    });
    Routes(server);
    if (port == 0)
        port = server.bind_to_any_port(host);
    else if (!server.bind_to_port(host, port))
        port = -1;
    if (port < 0) {
        std::cerr << t::kProgram << ": " << Say(t::kServeCannotListen, {host}) << "\n";
        return 2;
    }
    port_ = port;
    MakeFolders(options_.output);
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    std::cerr << t::kProgram << ": "
              << Say(t::kServing, {"http://" + shown + ":" + std::to_string(port) + "/torrent/"})
              << std::endl;
    // A signal ends the server: its handler wakes this thread, which stops it. Meanwhile it keeps
    // the network's state every few minutes (the watch does that when it runs beside).
    std::thread stopper([&] {
        FolderWatch waker("");  // no folder: it waits for the wake alone
        while (!gStop) {
            waker.Wait(kCheckpoint);
            if (!gStop && options_.watch.empty())
                sources_.Checkpoint();
        }
        server.stop();
    });
    server.listen_after_bind();
    gStop = true;
    FolderWatch::Wake();
    stopper.join();
    return 0;
}

}  // namespace

std::optional<std::string> CheckServeOptions(Options& options, std::string& host, int& port) {
    std::string address = *options.serve;
    host = "127.0.0.1";
    std::string portText = address;
    if (const std::optional<Endpoint> split = SplitEndpoint(address)) {
        host = split->host;
        portText = split->port;
    }
    const std::optional<long> number = NumberIn(portText, 0, 65535);
    if (!number || host.empty())
        return Say(t::kServeAddress, {address});
    port = static_cast<int>(*number);
    if (!IsLoopback(host) && options.token.empty())
        return Say(t::kServeNeedsToken, {host});
    return std::nullopt;
}

int Serve(Options& options, const Console& console, BatchSources& sources, const std::string& host,
          int port) {
    return Server(options, console, sources).Run(host, port);
}

}  // namespace velindra::cli
