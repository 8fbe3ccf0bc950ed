// velindra-cli as a user runs it: the built program, as a process, against mirrors on 127.0.0.1.
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>

#include <map>
#include <mutex>

#ifdef VELINDRA_SWARM
#include "swarm_support.h"
#endif
#include "test_support.h"
#include "torrent.h"

extern char** environ;

// Start is filled with designated initializers that leave the other fields at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace velindra {
namespace {

using testing::MakeTorrent;
using testing::TempDir;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> lines() const {
        std::vector<std::string> v;
        std::istringstream s(out);
        for (std::string l; std::getline(s, l);)
            v.push_back(l);
        return v;
    }
};

// How the program is started beyond its arguments and input.
struct Start {
    std::map<std::string, std::string> env;  // adds or (with an empty value) removes variables
    std::vector<int> closed;                 // descriptors it starts without
    std::string stdoutPath;                  // instead of a file the test reads
    bool terminalInput = false;              // standard input is a terminal
    int signal = 0;                          // sent once the first request arrives...
    std::function<bool()> ready = nullptr;   // ...which this tells
};

// Runs the program with the given arguments and standard input.
CliRun RunCli(const std::vector<std::string>& args, const std::string& input,
              const Start& start = {}) {
    const auto& env = start.env;
    TempDir io;
    testing::WriteFile(io / "in", input);
    std::vector<std::string> argStore = {VELINDRA_CLI_PATH};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (!env.count(name) && !name.ends_with("_proxy") && !name.ends_with("_PROXY")) {
            envStore.push_back(entry);
        }
    }
    for (const auto& [k, v] : env) {
        if (!v.empty())
            envStore.push_back(k + "=" + v);
    }
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int master = -1, slave = -1;
    if (start.terminalInput) {
        openpty(&master, &slave, nullptr, nullptr, nullptr);
        posix_spawn_file_actions_adddup2(&actions, slave, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, (io / "in").c_str(), O_RDONLY, 0);
    }
    const std::string out = start.stdoutPath.empty() ? io / "out" : start.stdoutPath;
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (io / "err").c_str(), O_WRONLY | O_CREAT, 0600);
    for (int fd : start.closed)
        posix_spawn_file_actions_addclose(&actions, fd);
    pid_t pid = 0;
    CliRun run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        if (start.signal) {
            while (!start.ready())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            kill(pid, start.signal);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (master >= 0) {
        close(master);
        close(slave);
    }
    run.out = testing::ReadFile(io / "out");
    run.err = testing::ReadFile(io / "err");
    return run;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // /good/<hash>.torrent serves the torrent whose hash it names; every request is logged.
        server.server.Get(
            R"(/(\w+)/(.*))", [this](const httplib::Request& q, httplib::Response& r) {
                std::string hash = q.matches[2];
                hash = hash.substr(hash.rfind('/') + 1);
                hash = hash.substr(0, hash.find('.'));
                int delay = 0;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    log.push_back(q.path);
                    delay = delays.count(hash) ? delays[hash] : 0;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                const std::string kind = q.matches[1];
                if (kind == "missing") {
                    r.status = 404;
                } else if (kind == "any") {
                    r.set_content(MakeTorrent("any").body, "application/x-bittorrent");
                } else if (kind == "stall") {
                    for (int i = 0; i < 200 && !stopping; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(25));
                    r.status = 404;
                } else if (kind == "broken") {
                    r.status = 500;
                } else if (torrents.count(hash)) {
                    r.set_content(torrents[hash].body, "application/x-bittorrent");
                } else {
                    r.status = 404;
                }
            });
        server.Start();
    }
    void TearDown() override {
        stopping = true;
        for (const auto& e : std::filesystem::recursive_directory_iterator(out.path())) {
            EXPECT_FALSE(e.path().filename().string().ends_with(".part")) << e.path();
        }
    }

    std::string Add(const std::string& name) {
        auto t = MakeTorrent(name);
        torrents[t.hash] = t;
        return t.hash;
    }
    std::vector<std::string> Mirror(const std::string& kind) {
        return {"--mirror", server.Url("/" + kind + "/{first2}/{last2}/{hash}.torrent")};
    }
    std::vector<std::string> Args(std::vector<std::string> extra) {
        std::vector<std::string> a = {"-o", out.path().string(), "--no-swarm"};
        for (auto& m : Mirror("good"))
            a.push_back(m);
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    testing::LoopbackServer server;
    std::map<std::string, testing::Torrent> torrents;
    std::map<std::string, int> delays;
    std::vector<std::string> log;
    std::mutex lock;
    std::atomic<bool> stopping{false};
    TempDir out;

    size_t Asked() {
        std::lock_guard<std::mutex> guard(lock);
        return log.size();
    }
    std::string Links(const std::vector<std::string>& hashes, const std::string& rest = "") {
        std::string text;
        for (size_t i = 0; i < hashes.size(); ++i)
            text += "magnet:?xt=urn:btih:" + hashes[i] + "&dn=f" + std::to_string(i) + rest + "\n";
        return text;
    }
};

TEST_F(CliTest, SavesUnderTheDecodedDisplayName) {
    const std::string a = Add("a"), b = Add("b"), c = Add("c");
    const CliRun run = RunCli(
        Args({}), "magnet:?xt=urn:btih:" + a + "&dn=My+Show&tr=udp%3A%2F%2Ft\r\n" +
                      "magnet:?xt=urn:btih:" + b + "&dn=%E4%B8%AD\n" + "magnet:?xt=urn:btih:" + c);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.lines(), (std::vector<std::string>{out / "My Show.torrent", out / "中.torrent",
                                                     out / (c + ".torrent")}));
    EXPECT_EQ(testing::ReadFile(out / "中.torrent"), torrents[b].body);
    EXPECT_EQ(run.err, "");
}

TEST_F(CliTest, NamesByHashWhenAsked) {
    const std::string a = Add("a");
    const CliRun run = RunCli(Args({"--name", "btih"}), "magnet:?xt=urn:btih:" + a + "&dn=Name");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.lines(), std::vector<std::string>{out / (a + ".torrent")});
}

TEST_F(CliTest, AsksTheMirrorsInOrderAndStopsAtTheFirstThatDelivers) {
    const std::string a = Add("a");
    std::vector<std::string> args = {"-o", out.path().string(), "--no-swarm"};
    for (const char* kind : {"missing", "broken", "good", "good"}) {
        for (auto& m : Mirror(kind))
            args.push_back(m);
    }
    const CliRun run = RunCli(args, "magnet:?xt=urn:btih:" + a + "&dn=x");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string tail = "/" + a.substr(0, 2) + "/" + a.substr(38) + "/" + a + ".torrent";
    EXPECT_EQ(log, (std::vector<std::string>{"/missing" + tail, "/broken" + tail, "/good" + tail}));
}

TEST_F(CliTest, GoodAndBadLinksInOneBatch) {
    const std::string good = Add("good");
    const std::string unknown(40, 'e');
    const CliRun run = RunCli(
        Args({}), "magnet:?xt=urn:btih:" + good +
                      "&dn=ok magnet:?dn=nohash magnet:?xt=urn:btih:" + unknown + "&dn=absent");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines(), std::vector<std::string>{out / "ok .torrent"});
    EXPECT_NE(run.err.find("dn=nohash"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(unknown), std::string::npos) << run.err;
    EXPECT_EQ(out.Entries(), std::set<std::string>{"ok .torrent"});
}

TEST_F(CliTest, ParallelJobsKeepInputOrder) {
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 16; ++i) {
        const std::string h = Add("n" + std::to_string(i));
        delays[h] = (16 - i) * 15;  // the earlier links answer last
        text += "magnet:?xt=urn:btih:" + h + "&dn=file" + std::to_string(i) + "\n";
        expected.push_back(out / ("file" + std::to_string(i) + ".torrent"));
    }
    const CliRun run = RunCli(Args({"--jobs", "8"}), text);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.lines(), expected);
}

TEST_F(CliTest, SameFileNameFromTwoLinksEndsWithTheLaterOne) {
    const std::string a = Add("first"), b = Add("second");
    delays[a] = 200;
    const CliRun run = RunCli(Args({"-j", "8"}), "magnet:?xt=urn:btih:" + a + "&dn=same\n" +
                                                     "magnet:?xt=urn:btih:" + b + "&dn=same\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(testing::ReadFile(out / "same.torrent"), torrents[b].body);
}

TEST_F(CliTest, TraversalNamesStayInsideTheOutputFolder) {
    const std::string a = Add("a"), b = Add("b");
    const CliRun run = RunCli(Args({}), "magnet:?xt=urn:btih:" + a + "&dn=..%2F..%2Fescape\n" +
                                            "magnet:?xt=urn:btih:" + b + "&dn=%2Fetc%2Fpasswd\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(out.Entries(),
              (std::set<std::string>{".._.._escape.torrent", "_etc_passwd.torrent"}));
    EXPECT_FALSE(std::filesystem::exists(out.path().parent_path() / "escape.torrent"));
}

TEST_F(CliTest, UnwritableOutputFolderFailsEveryLinkWithoutAsking) {
    const std::string a = Add("a");
    testing::WriteFile(out / "file", "");
    std::string folder = out / "file/sub";  // cannot be created below a file
    if (geteuid() != 0) {
        std::filesystem::create_directory(out / "ro");
        std::filesystem::permissions(
            out / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        folder = out / "ro";
    }
    std::vector<std::string> args = {"-o", folder, "--no-swarm"};
    for (auto& m : Mirror("good"))
        args.push_back(m);
    const CliRun run = RunCli(args, "magnet:?xt=urn:btih:" + a + "&dn=x");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("无法写入"), std::string::npos) << run.err;
    EXPECT_TRUE(log.empty());
}

TEST_F(CliTest, BuiltInMirrorLayoutsThroughAProxy) {
    const std::string a = Add("a");
    std::vector<std::string> seen;
    testing::LoopbackServer proxy;
    proxy.server.Get(".*", [&](const httplib::Request& q, httplib::Response& r) {
        seen.push_back(q.target);
        if (seen.size() < 3) {
            r.status = 404;
        } else {
            r.set_content(torrents[a].body, "application/x-bittorrent");
        }
    });
    proxy.Start();
    // Written in lower case, asked in the upper-case form the caches index.
    std::string lower = a;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(c));
    const CliRun run =
        RunCli({"-o", out.path().string(), "--no-swarm"}, "magnet:?xt=urn:btih:" + lower + "&dn=p",
               {.env = {{"http_proxy", "http://127.0.0.1:" + std::to_string(proxy.port())}}});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[0].starts_with("http://")) << seen[0];
    EXPECT_TRUE(
        seen[0].ends_with("/" + a.substr(0, 2) + "/" + a.substr(38) + "/" + a + ".torrent"));
    EXPECT_TRUE(seen[1].ends_with("/torrent/" + a + ".torrent")) << seen[1];
    EXPECT_TRUE(seen[2].ends_with("/torrent/" + a + ".torrent")) << seen[2];
    EXPECT_NE(seen[1], seen[2]);
}

TEST_F(CliTest, UsageErrorsAndTextWithoutLinks) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{}, "no links here", 2, "没有链接"},
        {{}, "", 2, "没有链接"},
        {{"--mirror", "ftp://x/{hash}"}, "magnet:?x", 2, "--mirror"},
        {{"--mirror", "file:///tmp/{hash}"}, "magnet:?x", 2, "--mirror"},
        {{"--jobs", "0"}, "magnet:?x", 2, "--jobs"},
        {{"-j", "33"}, "magnet:?x", 2, "--jobs"},
        {{"--name", "title"}, "magnet:?x", 2, "--name"},
        {{"--bogus"}, "magnet:?x", 2, "--bogus"},
        {{"/no/such/file"}, "", 2, "/no/such/file"},
        {{"/dev/zero"}, "", 2, "256 MiB"},
        {{"/"}, "", 2, "Is a directory"},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli(c.args, c.input);
        EXPECT_EQ(run.status, c.status) << c.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
    const CliRun help = RunCli({"--help"}, "");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--mirror"), std::string::npos);
    EXPECT_EQ(RunCli({"--version"}, "").out, "velindra-cli 1.0.0\n");
}

TEST_F(CliTest, ReadsLinksFilesAndStandardInputInOrderIntoAFolderItMakes) {
    const std::string a = Add("a"), b = Add("b"), c = Add("c");
    testing::WriteFile(out / "links.txt", "magnet:?xt=urn:btih:" + a + "&dn=fromfile");
    const std::string folder = out / "new/seeds";
    std::vector<std::string> args = {"-o",         folder,
                                     "--no-swarm", out / "links.txt",
                                     "-",          "magnet:?xt=urn:btih:" + c + "&dn=fromargument"};
    for (auto& m : Mirror("good"))
        args.push_back(m);
    const CliRun run = RunCli(args, "magnet:?xt=urn:btih:" + b + "&dn=fromstdin");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.lines(),
              (std::vector<std::string>{folder + "/fromfile.torrent", folder + "/fromstdin.torrent",
                                        folder + "/fromargument.torrent"}));
}

TEST_F(CliTest, NothingToReadButATerminalShowsTheUsage) {
    const CliRun run = RunCli({"-o", out.path().string()}, "", {.terminalInput = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("用法: velindra-cli")) << run.err;
}

#ifdef VELINDRA_SWARM
TEST_F(CliTest, FallsBackToTheNetworkWhenEveryMirrorFails) {
    // A seeder on 127.0.0.1 is the only peer; the link names it with x.pe.
    testing::LoopbackSeeder seeder;
    std::string info;
    const std::string hash = seeder.Seed("payload.bin", 64 * 1024, &info);
    std::vector<std::string> args = {"-o", out.path().string(), "--no-dht", "--swarm-timeout", "5"};
    for (auto& m : Mirror("missing"))
        args.push_back(m);
    const CliRun run =
        RunCli(args, "magnet:?xt=urn:btih:" + hash +
                         "&dn=payload&tr=http%3A%2F%2F127.0.0.1%3A9%2Fa&x.pe=" + seeder.Peer() +
                         "\nmagnet:?xt=urn:btih:" + std::string(40, 'e') +
                         "&x.pe=127.0.0.1:" + std::to_string(testing::RefusingPort()));
    EXPECT_EQ(run.status, 1) << run.err;
    ASSERT_EQ(run.lines(), std::vector<std::string>{out / "payload.torrent"}) << run.err;
    const std::string body = testing::ReadFile(out / "payload.torrent");
    ASSERT_TRUE(FindInfoDictionary(body).has_value());
    EXPECT_EQ(std::string(*FindInfoDictionary(body)), info);
    EXPECT_TRUE(body.starts_with("d8:announce20:http://127.0.0.1:9/a")) << body.substr(0, 40);
    EXPECT_NE(run.err.find("BitTorrent"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("could not be reached"), std::string::npos) << run.err;
}
#endif

// Cron jobs and service managers start programs with descriptors closed; whatever the program
// opens first then takes their numbers, and must never receive its messages.
TEST_F(CliTest, ClosedStandardDescriptorsNeverReachTheSavedFiles) {
    std::vector<std::string> hashes;
    for (int i = 0; i < 8; ++i)
        hashes.push_back(Add("c" + std::to_string(i)));
    const std::string failing = std::string(40, 'E');  // no mirror has it: a line for stderr
    for (int closed : {1, 2}) {
        const CliRun run =
            RunCli(Args({"-j", "8"}), Links(hashes) + Links({failing}, "x"), {.closed = {closed}});
        EXPECT_EQ(run.status, 1) << closed;
        for (size_t i = 0; i < hashes.size(); ++i) {
            EXPECT_EQ(testing::ReadFile(out / ("f" + std::to_string(i) + ".torrent")),
                      torrents[hashes[i]].body)
                << "descriptor " << closed << ", file " << i;
        }
    }
}

// A hash that is not 40 hexadecimal or 32 base-32 characters can never be checked against a
// delivered file, and no other part of a link reaches a URL: a mirror that answers anything
// is not even asked.
TEST_F(CliTest, UncheckableHashesFailWithoutAsking) {
    const std::string h = std::string(40, 'a');
    const std::vector<std::string> hashes = {std::string(39, 'a'),
                                             std::string(41, 'a'),
                                             std::string(40, 'g'),
                                             std::string(32, '1'),
                                             "",
                                             h + "%20",
                                             h + "?a#b",
                                             h + std::string(1, '\0'),
                                             h + "@evil.example/x"};
    std::vector<std::string> args = {"-o", out.path().string(), "--no-swarm"};
    for (auto& m : Mirror("any"))
        args.push_back(m);
    const CliRun run = RunCli(args, Links(hashes));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    size_t reasons = 0;
    for (size_t at = run.err.find("无效的种子特征"); at != std::string::npos;
         at = run.err.find("无效的种子特征", at + 1))
        ++reasons;
    EXPECT_EQ(reasons, hashes.size()) << run.err;
    EXPECT_EQ(Asked(), 0u);
    EXPECT_TRUE(out.Entries().empty());
}

TEST_F(CliTest, OutsideTextCannotSteerTheTerminal) {
    const CliRun run = RunCli(Args({}),
                              "magnet:?\x1b]0;PWNED\x07\x1b[2J\xc2\x9b\n"
                              "magnet:?xt=urn:btih:\x1b[31m");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("\xc2\x9b"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\\x1b]0;PWNED\\x07\\x1b[2J\\u009b"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\\x1b[31m"), std::string::npos) << run.err;
}

TEST_F(CliTest, SignalsEndTheRunWithTheShellsStatusAndNoTemporaryFile) {
    for (auto [signal, status] : {std::pair{SIGINT, 130}, {SIGHUP, 129}, {SIGTERM, 143}}) {
        const std::string a = Add("s");
        std::vector<std::string> args = {"-o", out.path().string(), "--no-swarm"};
        for (auto& m : Mirror("stall"))
            args.push_back(m);
        const size_t before = Asked();
        const CliRun run =
            RunCli(args, Links({a}), {.signal = signal, .ready = [&] { return Asked() > before; }});
        EXPECT_EQ(run.status, status) << signal;
        EXPECT_TRUE(out.Entries().empty()) << signal;
    }
}

TEST_F(CliTest, LostOutputIsAFailure) {
    const std::string a = Add("a");
    const CliRun run = RunCli(Args({}), Links({a}), {.stdoutPath = "/dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("标准输出"), std::string::npos) << run.err;
}

TEST_F(CliTest, OldTemporaryFilesOfOurOwnAreRemoved) {
    const auto dayAndAHalf = std::filesystem::file_time_type::clock::now() - std::chrono::hours(36);
    for (const char* name : {".velindra-abcdefghij.part", ".velindra-0123456789.part",
                             ".velindra-short.part", "mine.part"}) {
        testing::WriteFile(out / name, "x");
        if (std::string(name) != ".velindra-0123456789.part")
            std::filesystem::last_write_time(out / name, dayAndAHalf);
    }
    const std::string a = Add("a");
    EXPECT_EQ(RunCli(Args({}), Links({a})).status, 0);
    // Only an old file of exactly our own pattern goes; a fresh one may be another run's.
    EXPECT_EQ(out.Entries(),
              (std::set<std::string>{".velindra-0123456789.part", ".velindra-short.part",
                                     "mine.part", "f0.torrent"}));
    for (const char* name : {".velindra-0123456789.part", ".velindra-short.part", "mine.part"})
        std::filesystem::remove(out / name);
}

// A certificate authority made for the test, and a server certificate for 127.0.0.1 signed by
// it: the mirror is trusted only when the program is told about the authority.
TEST_F(CliTest, HttpsMirrorsAreCheckedAgainstTheTrustStoreGiven) {
    TempDir pki;
    const std::string d = pki.path().string();
    const std::string make =
        "cd " + d +
        " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2"
        " -subj /CN=test-ca 2>/dev/null"
        " && openssl req -newkey rsa:2048 -nodes -keyout key.pem -out req.csr -subj /CN=127.0.0.1"
        " 2>/dev/null && printf 'subjectAltName=IP:127.0.0.1' > ext"
        " && openssl x509 -req -in req.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
        " -extfile ext -out cert.pem 2>/dev/null"
        " && mkdir certs && cp ca.pem certs/ && openssl rehash certs";
    ASSERT_EQ(std::system(make.c_str()), 0);
    httplib::SSLServer tls((pki / "cert.pem").c_str(), (pki / "key.pem").c_str());
    const std::string a = Add("tls");
    tls.Get(".*", [&](const httplib::Request&, httplib::Response& r) {
        r.set_content(torrents[a].body, "application/x-bittorrent");
    });
    const int port = tls.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { tls.listen_after_bind(); });
    while (!tls.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    const std::vector<std::string> args = {
        "-o", out.path().string(), "--no-swarm", "--mirror",
        "https://127.0.0.1:" + std::to_string(port) + "/{hash}.torrent"};
    const std::map<std::string, std::string> none = {
        {"CURL_CA_BUNDLE", ""}, {"SSL_CERT_FILE", ""}, {"SSL_CERT_DIR", ""}};
    struct Case {
        std::vector<std::string> extra;
        std::map<std::string, std::string> env;
        int status;
    };
    const std::vector<Case> cases = {
        {{}, {}, 1},
        {{"--cacert", pki / "ca.pem"}, {}, 0},
        {{}, {{"CURL_CA_BUNDLE", pki / "ca.pem"}}, 0},
        {{}, {{"SSL_CERT_FILE", pki / "ca.pem"}}, 0},
        {{}, {{"SSL_CERT_DIR", pki / "certs"}}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> all = args;
        all.insert(all.end(), c.extra.begin(), c.extra.end());
        std::map<std::string, std::string> env = none;
        for (const auto& [k, v] : c.env)
            env[k] = v;
        const CliRun run = RunCli(all, Links({a}), {.env = env});
        EXPECT_EQ(run.status, c.status) << run.err;
    }
    tls.stop();
    serving.join();
}

// The command line and the download path build without Qt and without libtorrent.
TEST(CliBuildTest, BuildsWithoutTheWindowsOrTheNetworkSource) {
    TempDir build;
    const std::string dir = build.path().string();
    const std::string configure =
        "cmake -S '" VELINDRA_SOURCE_DIR "' -B '" + dir +
        "' -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELINDRA_GUI=OFF -DVELINDRA_SWARM=OFF "
        "-DVELINDRA_TESTS=OFF > '" +
        dir + "/log' 2>&1 && cmake --build '" + dir + "' --target velindra-cli >> '" + dir +
        "/log' 2>&1";
    ASSERT_EQ(std::system(configure.c_str()), 0) << testing::ReadFile(dir + "/log");
    const std::string libraries = dir + "/libraries";
    ASSERT_EQ(std::system(("ldd '" + dir + "/cli/velindra-cli' > '" + libraries + "'").c_str()), 0);
    const std::string linked = testing::ReadFile(libraries);
    EXPECT_EQ(linked.find("Qt6"), std::string::npos) << linked;
    EXPECT_EQ(linked.find("torrent"), std::string::npos) << linked;
    EXPECT_NE(linked.find("libcurl"), std::string::npos) << linked;
}

}  // namespace
}  // namespace velindra
