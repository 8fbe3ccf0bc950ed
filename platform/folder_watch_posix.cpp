#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/folder_watch.h"

namespace velindra {

namespace {

// The pipe that ends a wait: written from a signal handler, read by the wait.
int gWakePipe[2] = {-1, -1};

void MakeWakePipe() {
    static const bool made = pipe2(gWakePipe, O_CLOEXEC | O_NONBLOCK) == 0;
    (void)made;
}

}  // namespace

struct FolderWatch::System {
    int inotify = -1;
    int watch = -1;
};

FolderWatch::FolderWatch(const std::string& folder)
    : folder_(folder), system_(std::make_unique<System>()) {
    MakeWakePipe();
    system_->inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    Rewatch();
}

FolderWatch::~FolderWatch() {
    if (system_->inotify >= 0)
        close(system_->inotify);
}

void FolderWatch::Rewatch() {
    if (system_->inotify < 0)
        return;
    if (system_->watch >= 0)
        inotify_rm_watch(system_->inotify, system_->watch);
    system_->watch = inotify_add_watch(system_->inotify, folder_.c_str(),
                                       IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO |
                                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

bool FolderWatch::watching() const {
    return system_->watch >= 0;
}

void FolderWatch::Wake() {
    if (gWakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(gWakePipe[1], &byte, 1);
    }
}

bool NobodyWrites(const std::string&) {
    return true;  // inotify says when a writer closes a file
}

std::vector<FolderEvent> FolderWatch::Wait(std::chrono::milliseconds wait) {
    std::array<pollfd, 2> fds = {pollfd{gWakePipe[0], POLLIN, 0},
                                 pollfd{system_->inotify, POLLIN, 0}};
    const int count = system_->inotify >= 0 ? 2 : 1;
    std::vector<FolderEvent> names;
    if (poll(fds.data(), count, static_cast<int>(wait.count())) <= 0)
        return names;
    if (fds[0].revents != 0)
        return names;  // woken: the program is stopping (the pipe stays full for every wait)
    alignas(inotify_event) char buffer[16384];
    for (ssize_t got; (got = read(system_->inotify, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) &&
                event->wd == system_->watch)
                system_->watch = -1;  // the folder went away: a look-over says so
            else if (event->len > 0)
                names.push_back({event->name, (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0});
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return names;
}

}  // namespace velindra
