// The real downloader against a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>

#include "curl_downloader.h"
#include "fetch.h"
#include "test_support.h"

namespace velindra {
namespace {

using testing::MakeTorrent;
using testing::TempDir;

std::string Gzip(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(compressBound(data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

FetchRequest Request(std::string url, std::string destination, std::string hash,
                     const std::atomic<bool>* cancel = nullptr) {
    FetchRequest r;
    r.url = std::move(url);
    r.destination = std::move(destination);
    r.infoHash = std::move(hash);
    r.mirror = 1;
    r.cancel = cancel;
    return r;
}

class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* v : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY",
                              "no_proxy", "NO_PROXY"}) {
#ifdef _WIN32
            _putenv_s(v, "");
#else
            unsetenv(v);
#endif
        }
        auto& s = server.server;
        s.Get("/ok", [&](const httplib::Request&, httplib::Response& r) {
            r.set_content(good.body, "application/x-bittorrent");
        });
        s.Get("/other", [&](const httplib::Request&, httplib::Response& r) {
            r.set_content(MakeTorrent("another").body, "application/x-bittorrent");
        });
        s.Get("/html", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("<html><body>Not here</body></html>", "text/html");
        });
        s.Get("/404", [](const httplib::Request&, httplib::Response& r) { r.status = 404; });
        s.Get("/500", [](const httplib::Request&, httplib::Response& r) { r.status = 500; });
        s.Get(R"(/hop/(\d+))", [&](const httplib::Request& q, httplib::Response& r) {
            const int left = std::stoi(q.matches[1]);
            r.set_redirect(left == 0 ? "/ok" : "/hop/" + std::to_string(left - 1));
        });
        s.Get("/loop",
              [](const httplib::Request&, httplib::Response& r) { r.set_redirect("/loop"); });
        s.Get("/to-file", [](const httplib::Request&, httplib::Response& r) {
            r.set_redirect("file:///etc/passwd");
        });
        s.Get("/to-ftp", [](const httplib::Request&, httplib::Response& r) {
            r.set_redirect("ftp://127.0.0.1/x.torrent");
        });
        s.Get("/gzip", [&](const httplib::Request&, httplib::Response& r) {
            r.set_header("Content-Encoding", "gzip");
            r.set_content(Gzip(good.body), "application/x-bittorrent");
        });
        s.Get("/big", [&](const httplib::Request&, httplib::Response& r) {
            r.set_content(std::string(200 * 1024, 'd'), "application/x-bittorrent");
        });
        s.Get("/dup-info", [&](const httplib::Request&, httplib::Response& r) {
            // The first "info" is the one the hash names; a reader taking the last sees another.
            const std::string other(*FindInfoDictionary(MakeTorrent("other").body));
            r.set_content(good.body.substr(0, good.body.size() - 1) + "4:info" + other + "e",
                          "application/x-bittorrent");
        });
        s.Get("/trailing", [&](const httplib::Request&, httplib::Response& r) {
            r.set_content(good.body + "\r\n", "application/x-bittorrent");
        });
        s.Get("/announced-big", [&](const httplib::Request&, httplib::Response& r) {
            r.set_content_provider(size_t{1} << 30, "application/x-bittorrent",
                                   [&](size_t, size_t, httplib::DataSink& sink) {
                                       sink.write(good.body.data(), good.body.size());
                                       return !stopping;
                                   });
        });
        s.Get("/trickle", [&](const httplib::Request&, httplib::Response& r) {
            // One byte at a time, each well within the stall bound: only the overall deadline
            // can end it.
            r.set_content_provider(good.body.size(), "application/x-bittorrent",
                                   [&](size_t offset, size_t, httplib::DataSink& sink) {
                                       std::this_thread::sleep_for(std::chrono::milliseconds(200));
                                       sink.write(good.body.data() + offset, 1);
                                       return !stopping;
                                   });
        });
        s.Get("/gzip-bomb", [&](const httplib::Request&, httplib::Response& r) {
            r.set_header("Content-Encoding", "gzip");
            r.set_content(Gzip(std::string(4 << 20, 'd')), "application/x-bittorrent");
        });
        s.Get("/stall", [&](const httplib::Request&, httplib::Response& r) {
            r.set_content_provider(
                good.body.size(), "application/x-bittorrent",
                [&](size_t offset, size_t, httplib::DataSink& sink) {
                    if (offset == 0) {
                        sink.write(good.body.data(), good.body.size() / 2);
                        return true;
                    }
                    // Deliver nothing more until the test ends.
                    for (int i = 0; i < 100 && !stopping; ++i) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    }
                    return false;
                });
        });
        s.Get("/agent", [&](const httplib::Request& q, httplib::Response& r) {
            agent = q.get_header_value("User-Agent");
            r.set_content(good.body, "application/x-bittorrent");
        });
        server.Start();
    }
    void TearDown() override {
        stopping = true;
        // Whatever happened, nothing but the expected files is left in the folder.
        for (const auto& name : dir.Entries()) {
            EXPECT_FALSE(name.ends_with(".part")) << "temporary file left: " << name;
        }
    }

    FetchResult Get(const std::string& path, const std::string& hash, const std::string& dest) {
        return downloader.Fetch(Request(server.Url(path), dest, hash));
    }

    testing::Torrent good = MakeTorrent("good");
    testing::LoopbackServer server;
    TempDir dir;
    std::string agent;
    std::atomic<bool> stopping{false};
    CurlDownloader downloader{DownloadLimits{2000, 1000, 64 * 1024, 5, 2500}};
};

TEST_F(DownloadTest, SavesAValidTorrent) {
    const std::string dest = dir / "good.torrent";
    const auto result = Get("/agent", good.hash, dest);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(testing::ReadFile(dest), good.body);
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"good.torrent"});
    EXPECT_TRUE(agent.starts_with("Velindra/")) << agent;
}

TEST_F(DownloadTest, AcceptsEveryFormOfTheHashAndCompressedBodies) {
    const Sha1Digest digest = *InfoHashBytes(good.hash);
    for (const std::string& hash : {good.hash, testing::Hex(digest), testing::Base32(digest)}) {
        const std::string dest = dir / "h.torrent";
        EXPECT_TRUE(Get("/ok", hash, dest).ok()) << hash;
        EXPECT_TRUE(Get("/gzip", hash, dest).ok()) << hash;
        EXPECT_EQ(testing::ReadFile(dest), good.body);
    }
}

TEST_F(DownloadTest, FollowsAShortRedirectChain) {
    EXPECT_TRUE(Get("/hop/4", good.hash, dir / "r.torrent").ok());
    EXPECT_EQ(Get("/hop/5", good.hash, dir / "r2.torrent").error, FetchError::Redirect);
}

TEST_F(DownloadTest, EveryFailureLeavesAnExistingFileUntouched) {
    struct Case {
        std::string path;
        FetchError error;
    };
    const std::vector<Case> cases = {
        {"/404", FetchError::HttpStatus},       {"/500", FetchError::HttpStatus},
        {"/html", FetchError::NotATorrent},     {"/other", FetchError::WrongTorrent},
        {"/loop", FetchError::Redirect},        {"/to-file", FetchError::Redirect},
        {"/to-ftp", FetchError::Redirect},      {"/big", FetchError::TooLarge},
        {"/gzip-bomb", FetchError::TooLarge},   {"/stall", FetchError::Timeout},
        {"/dup-info", FetchError::NotATorrent}, {"/announced-big", FetchError::TooLarge},
        {"/trickle", FetchError::Timeout},
    };
    const std::string dest = dir / "keep.torrent";
    testing::WriteFile(dest, "OLD");
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto result = Get(c.path, good.hash, dest);
        EXPECT_EQ(result.error, c.error) << c.path << ": " << result.detail;
        EXPECT_FALSE(result.detail.empty()) << c.path;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << c.path;
        EXPECT_EQ(testing::ReadFile(dest), "OLD") << c.path;
        EXPECT_EQ(dir.Entries(), std::set<std::string>{"keep.torrent"}) << c.path;
    }
}

TEST_F(DownloadTest, AnswerThatIsNotHttpHasItsOwnReason) {
    testing::RawServer raw("SSH-2.0-OpenSSH_9.2\r\n");
    const auto result = downloader.Fetch(Request(raw.Url("/x"), dir / "x.torrent", good.hash));
    EXPECT_EQ(result.error, FetchError::NotHttp) << result.detail;
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(DownloadTest, TrailingWhiteSpaceIsDroppedAndPermissionsAreKept) {
    const std::string dest = dir / "private.torrent";
    testing::WriteFile(dest, "OLD");
    std::filesystem::permissions(
        dest, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(Get("/trailing", good.hash, dest).ok());
    EXPECT_EQ(testing::ReadFile(dest), good.body);
#ifndef _WIN32  // Windows files have no permission bits to keep
    EXPECT_EQ(std::filesystem::status(dest).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}

TEST_F(DownloadTest, RefusedConnectionFails) {
    FetchRequest request =
        Request("http://127.0.0.1:" + std::to_string(testing::RefusingPort()) + "/x",
                dir / "x.torrent", good.hash);
    EXPECT_EQ(downloader.Fetch(request).error, FetchError::NoConnection);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(DownloadTest, UnwritableFolderFailsBeforeAnyTransfer) {
    std::atomic<int> asked{0};
    server.server.Get("/count", [&](const httplib::Request&, httplib::Response& r) {
        ++asked;
        r.set_content(good.body, "application/x-bittorrent");
    });
    std::vector<std::string> destinations = {dir / "missing/x.torrent"};
    std::filesystem::create_directory(dir.path() / "ro");
    std::filesystem::permissions(
        dir.path() / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
#ifdef _WIN32
    // A folder's read-only attribute only marks it as customised in Explorer: it takes files.
    EXPECT_TRUE(Get("/count", good.hash, dir / "ro/x.torrent").ok());
    asked = 0;
#else
    // Root writes into a read-only folder too, but not into /proc.
    destinations.push_back(geteuid() == 0 ? "/proc/self/x.torrent" : dir / "ro/x.torrent");
#endif
    for (const auto& dest : destinations) {
        EXPECT_EQ(Get("/count", good.hash, dest).error, FetchError::CannotWrite) << dest;
    }
    EXPECT_EQ(asked, 0);
}

TEST_F(DownloadTest, DestinationThatIsAFolderCannotBeWritten) {
    std::filesystem::create_directory(dir.path() / "taken.torrent");
    EXPECT_EQ(Get("/ok", good.hash, dir / "taken.torrent").error, FetchError::CannotWrite);
}

TEST_F(DownloadTest, CancelStopsAStalledTransferAtOnce) {
    CurlDownloader patient{DownloadLimits{2000, 60000, 1 << 20, 5}};
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const auto started = std::chrono::steady_clock::now();
    const auto result =
        patient.Fetch(Request(server.Url("/stall"), dir / "c.torrent", good.hash, &cancel));
    canceller.join();
    EXPECT_EQ(result.error, FetchError::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_TRUE(dir.Entries().empty());
}

// A batch keeps about one connection per worker and host, and never sends a request down a
// connection that has just failed.
TEST_F(DownloadTest, ConnectionsAreReusedButNeverAfterAFailure) {
    std::mutex lock;
    std::map<std::string, int> portOf;  // path -> the client's port
    server.server.set_keep_alive_max_count(1000);
    server.server.Get(R"(/count/.*)", [&](const httplib::Request& q, httplib::Response& r) {
        std::lock_guard<std::mutex> guard(lock);
        portOf[q.path] = q.remote_port;
        r.set_content(good.body, "application/x-bittorrent");
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < 10; ++i) {
                const std::string name = std::to_string(w) + "-" + std::to_string(i);
                EXPECT_TRUE(Get("/count/" + name, good.hash, dir / (name + ".torrent")).ok());
            }
        });
    }
    for (auto& t : workers)
        t.join();
    std::set<int> ports;
    for (const auto& [path, port] : portOf)
        ports.insert(port);
    EXPECT_LE(ports.size(), 2u);

    // One worker: its connection serves again, but not once a transfer on it has stalled.
    CurlDownloader one{downloader.limits()};
    const auto fetch = [&](const std::string& path) {
        return one.Fetch(Request(server.Url(path), dir / "one.torrent", good.hash));
    };
    ASSERT_TRUE(fetch("/count/a").ok() && fetch("/count/b").ok());
    EXPECT_EQ(portOf["/count/a"], portOf["/count/b"]);
    EXPECT_EQ(fetch("/stall").error, FetchError::Timeout);
    ASSERT_TRUE(fetch("/count/c").ok());
    EXPECT_NE(portOf["/count/c"], portOf["/count/b"]);
}

TEST_F(DownloadTest, ParallelTransfersIntoOneFileNeverMix) {
    std::vector<std::thread> threads;
    std::atomic<int> saved{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            const FetchResult result = Get("/ok", good.hash, dir / "same.torrent");
            EXPECT_TRUE(result.ok()) << result.detail;
            if (result.ok())
                ++saved;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(saved, 8);
    EXPECT_EQ(testing::ReadFile(dir / "same.torrent"), good.body);
    EXPECT_EQ(dir.Entries(), std::set<std::string>{"same.torrent"});
}

}  // namespace
}  // namespace velindra
