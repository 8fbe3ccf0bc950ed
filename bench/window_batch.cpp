// The windows' batch, timed: pastes the links of a file into the main window and presses
// "获取种子" with the settings the caller stored (a configured folder, "什么都不做", failures not
// shown), then prints the seconds the batch took and how many links it had. With --network the
// network source is asked after the caches: --dht-node NODE joins the DHT through that node
// only, --no-dht asks the links' trackers and peers alone, --listen as velindra-cli's, and
// --allow-private-addresses lets them be on this machine. With --line KB instead, the time to paste
// one link of that many KiB into the links box and draw it. Runs offscreen.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/Form1.h"
#include "app/desktop_launcher.h"
#include "core/links.h"
#include "platform/committer.h"
#include "platform/curl_downloader.h"
#include "platform/sources.h"
#include "settings/qt_settings_store.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: window_batch LINKS-FILE [--network [--dht-node NODE] [--no-dht] "
                     "[--listen ADDRESS] [--allow-private-addresses]] | --line KB\n");
        return 2;
    }
    if (std::string(argv[1]) == "--line" && argc > 2) {
        QApplication app(argc, argv);
        velindra::QtSettingsStore settings;
        velindra::CurlDownloader downloader;
        velindra::Committer committer;
        velindra::DesktopLauncher launcher;
        velindra::Form1 form(
            velindra::Outside{settings, downloader, committer, launcher, nullptr, nullptr});
        form.show();
        const QString line = QStringLiteral("magnet:?xt=urn:btih:") +
                             QString(std::atoi(argv[2]) * 1024, QLatin1Char('a'));
        QElapsedTimer clock;
        clock.start();
        form.Text1->setPlainText(line);
        form.Text1->moveCursor(QTextCursor::End);
        form.grab();
        std::printf("%lld ms\n", static_cast<long long>(clock.elapsed()));
        return 0;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    QApplication app(argc, argv);
    velindra::QtSettingsStore settings;
    bool network = false;
    velindra::SourceOptions options;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        network = network || option == "--network";
        if (option == "--dht-node" && i + 1 < argc)
            options.dhtNodes.push_back(argv[++i]);
        if (option == "--listen" && i + 1 < argc)
            options.listen = argv[++i];
        options.dht = options.dht && option != "--no-dht";
        options.allowPrivateAddresses =
            options.allowPrivateAddresses || option == "--allow-private-addresses";
    }
    velindra::CurlDownloader downloader(velindra::WebLimits(options));
    velindra::Committer committer;
    velindra::DesktopLauncher launcher;
    velindra::Outside outside{settings, downloader, committer, launcher, nullptr, nullptr};
    if (network)
        outside.makeNetworkSource = [options] { return velindra::MakeNetworkSource(options); };
    velindra::Form1 form(std::move(outside));
    form.show();
    form.Text1->setPlainText(QString::fromStdString(text.str()));
    QElapsedTimer clock;
    clock.start();
    form.Command1_Click();
    std::printf("%.3f %zu\n", clock.nsecsElapsed() / 1e9, velindra::SplitLinks(text.str()).size());
    return 0;
}
