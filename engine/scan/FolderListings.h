#pragma once

#include "engine/batch/FileMasks.h"
#include "engine/files/FileSystem.h"

#include <QSet>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

// One folder opened and read, its entries sorted as the scan lists them.
struct FolderListing
{
    bool open = false;
    QString error;    // the system's words when it could not be opened or read to its end
    QString identity; // empty when the folder could not be opened
    std::vector<FolderEntry> entries;
    // Open for the folders inside; only while their reads have not been requested.
    std::shared_ptr<FolderReader> reader;
    // Names the requests for the folders inside; 0 when none were made through this listing.
    quint64 serial = 0;
};

// Reads the folders of the tree on a thread of its own from the far end, while the scan
// reads them from the start, so that two folder reads run side by side until they meet.
// The scan keeps its order: it takes each listing when its turn comes, waiting only for one
// under way. Each folder's insides are requested once, through whichever path reached it
// first, so link cycles end here too. A folder stays open only while a folder inside it
// waits to be read: about two folders a level. A folder the masks leave out is not listed.
class FolderListings
{
public:
    explicit FolderListings(const FileMasks &masks = FileMasks());
    // Waits for the reads under way; the rest are not started.
    ~FolderListings();
    FolderListings(const FolderListings &) = delete;
    FolderListings &operator=(const FolderListings &) = delete;

    // The top folder; `path` is how the scan names it.
    FolderListing top(const QString &path);
    // The folder of parent's entry `entry`.
    FolderListing inside(const FolderListing &parent, size_t entry);

private:
    struct Request
    {
        enum State
        {
            Queued,
            Running,
            Done,
        };
        State state = Queued;
        std::shared_ptr<FolderReader> parent;
        QString name;
        FolderListing listing;
    };

    // A folder by its parent's serial and its place among the parent's entries: a key of fixed
    // size, so deep trees cost no memory for long paths.
    using Key = std::pair<quint64, size_t>;
    struct KeyHash
    {
        size_t operator()(const Key &key) const
        {
            return std::hash<quint64>()(key.first * 1000003u ^ key.second);
        }
    };

    FolderListing read(std::shared_ptr<FolderReader> reader) const;
    void dropExcludedFolders(std::vector<FolderEntry> &entries) const;
    void work();
    void offer(FolderListing &listing);
    void request(FolderListing &listing);

    const FileMasks masks;
    std::mutex mutex;
    std::condition_variable queued; // a request, room for another listing, or closing
    std::condition_variable done;   // a listing has been read
    std::unordered_map<Key, Request, KeyHash> requests;
    std::deque<Key> stack; // newest request on top
    QSet<QString> offered; // identities whose folders were requested
    quint64 lastSerial = 0;
    bool closing = false;
    std::thread worker;
};

// The entries the scan lists sorted: by name with letter case ignored, character code by
// character code; names that differ only in case keep one fixed order.
void SortByName(std::vector<FolderEntry> &entries);
// A folder entry that the scan descends into.
bool IsScannedFolder(const FolderEntry &entry);
