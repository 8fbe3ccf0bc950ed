#include <windows.h>

#include "platform/folder_watch.h"
#include "platform/utf16.h"

namespace velindra {

namespace {

// The event that ends a wait: set from the console's control handler, or another thread.
HANDLE WakeEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // stays set
    return event;
}

constexpr DWORD kChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

}  // namespace

struct FolderWatch::System {
    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE changed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    alignas(DWORD) char buffer[16384];
    bool asking = false;

    // Asks for the folder's next changes; false when it cannot be watched.
    bool Ask() {
        ResetEvent(changed);
        overlapped = OVERLAPPED{};
        overlapped.hEvent = changed;
        asking = ReadDirectoryChangesW(folder, buffer, sizeof buffer, FALSE, kChanges, nullptr,
                                       &overlapped, nullptr) != 0;
        return asking;
    }
    void Close() {
        if (folder == INVALID_HANDLE_VALUE)
            return;
        if (asking) {
            CancelIoEx(folder, &overlapped);
            DWORD ignored = 0;
            GetOverlappedResult(folder, &overlapped, &ignored, TRUE);
            asking = false;
        }
        CloseHandle(folder);
        folder = INVALID_HANDLE_VALUE;
    }
};

FolderWatch::FolderWatch(const std::string& folder)
    : folder_(folder), system_(std::make_unique<System>()) {
    WakeEvent();
    Rewatch();
}

FolderWatch::~FolderWatch() {
    system_->Close();
    CloseHandle(system_->changed);
}

void FolderWatch::Rewatch() {
    system_->Close();
    system_->folder =
        CreateFileW(Utf16(folder_).c_str(), FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (system_->folder != INVALID_HANDLE_VALUE && !system_->Ask())
        system_->Close();
}

bool FolderWatch::watching() const {
    return system_->folder != INVALID_HANDLE_VALUE;
}

void FolderWatch::Wake() {
    SetEvent(WakeEvent());
}

bool NobodyWrites(const std::string& path) {
    // Opening it while denying others the right to write fails while a writer has it open.
    const HANDLE file = CreateFileW(Utf16(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return true;
}

std::vector<FolderEvent> FolderWatch::Wait(std::chrono::milliseconds wait) {
    std::vector<FolderEvent> names;
    HANDLE handles[2] = {WakeEvent(), system_->changed};
    const DWORD count = watching() ? 2 : 1;
    const DWORD woke =
        WaitForMultipleObjects(count, handles, FALSE, static_cast<DWORD>(wait.count()));
    if (woke != WAIT_OBJECT_0 + 1)
        return names;
    DWORD got = 0;
    system_->asking = false;
    if (!GetOverlappedResult(system_->folder, &system_->overlapped, &got, FALSE)) {
        system_->Close();  // the folder went away: a look-over says so
        return names;
    }
    for (DWORD at = 0; got > 0;) {
        const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(system_->buffer + at);
        // Windows tells of no close, and a file moved in from another folder comes as added:
        // every event is "done", and whether a writer still has the file open is NobodyWrites'
        // to say, which the watch asks before it reads one.
        if (change->Action == FILE_ACTION_ADDED || change->Action == FILE_ACTION_MODIFIED ||
            change->Action == FILE_ACTION_RENAMED_NEW_NAME)
            names.push_back(
                {Utf8(std::wstring(change->FileName, change->FileNameLength / sizeof(wchar_t))),
                 true});
        if (change->NextEntryOffset == 0)
            break;
        at += change->NextEntryOffset;
    }
    if (!system_->Ask())
        system_->Close();
    return names;
}

}  // namespace velindra
