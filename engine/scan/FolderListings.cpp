#include "engine/scan/FolderListings.h"

#include "engine/journal/Journal.h"

#include <algorithm>
#include <utility>

FolderListing FolderListings::read(std::shared_ptr<FolderReader> reader) const
{
    FolderListing listing;
    listing.open = reader->isOpen();
    if (listing.open)
        listing.identity = reader->identity();
    if (!listing.identity.isEmpty()) {
        listing.entries = reader->entries();
        if (masks.excludesAny())
            dropExcludedFolders(listing.entries);
        SortByName(listing.entries);
    }
    listing.error = reader->error();
    listing.reader = std::move(reader);
    return listing;
}

void FolderListings::dropExcludedFolders(std::vector<FolderEntry> &entries) const
{
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [this](const FolderEntry &entry) {
                                     return entry.kind == FolderEntry::Folder &&
                                            !masks.entersFolder(entry.name);
                                 }),
                  entries.end());
}

void SortByName(std::vector<FolderEntry> &entries)
{
    std::vector<std::pair<QString, size_t>> keys;
    keys.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        keys.emplace_back(entries[i].name.toLower(), i);
    std::sort(keys.begin(), keys.end(), [&entries](const auto &a, const auto &b) {
        const int byLower = a.first.compare(b.first);
        return byLower != 0 ? byLower < 0 : entries[a.second].name < entries[b.second].name;
    });
    std::vector<FolderEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto &key : keys)
        sorted.push_back(std::move(entries[key.second]));
    entries = std::move(sorted);
}

bool IsScannedFolder(const FolderEntry &entry)
{
    // The journal's name is not hidden on Windows; its originals are no input.
    return entry.kind == FolderEntry::Folder && !entry.hidden && entry.name != journalFolderName;
}

FolderListings::FolderListings(const FileMasks &masks) : masks(masks), worker([this] { work(); }) {}

FolderListings::~FolderListings()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    queued.notify_all();
    worker.join();
}

FolderListing FolderListings::top(const QString &path)
{
    FolderListing listing = read(std::make_shared<FolderReader>(path));
    offer(listing);
    return listing;
}

FolderListing FolderListings::inside(const FolderListing &parent, size_t entry)
{
    const Key key(parent.serial, entry);
    std::shared_ptr<FolderReader> opened; // the parent, open
    {
        std::unique_lock<std::mutex> lock(mutex);
        const auto found = parent.serial == 0 ? requests.end() : requests.find(key);
        if (found != requests.end()) {
            Request &request = found->second;
            done.wait(lock, [&] { return request.state != Request::Running; });
            // The map may have grown meanwhile: erase by name, not by the old place.
            if (request.state == Request::Done) {
                FolderListing listing = std::move(request.listing);
                requests.erase(key);
                return listing;
            }
            // Not started: read here, without waiting.
            opened = std::move(request.parent);
            requests.erase(key);
        }
    }
    // Without a request the parent's insides were requested through another path, and the
    // parent kept its reader.
    if (!opened)
        opened = parent.reader;
    FolderListing listing =
        read(std::make_shared<FolderReader>(*opened, parent.entries[entry].name));
    opened.reset();
    offer(listing);
    return listing;
}

void FolderListings::offer(FolderListing &listing)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        request(listing);
    }
    queued.notify_all();
}

// Under the lock: requests the folders inside a folder read for the first time, the last of
// them on top, so that the worker starts from the far end. Their requests hold the folder
// open from then on.
void FolderListings::request(FolderListing &listing)
{
    if (closing || listing.identity.isEmpty() || offered.contains(listing.identity))
        return;
    offered.insert(listing.identity);
    listing.serial = ++lastSerial;
    for (size_t i = 0; i < listing.entries.size(); ++i) {
        const FolderEntry &entry = listing.entries[i];
        if (!IsScannedFolder(entry))
            continue;
        const Key key(listing.serial, i);
        Request &request = requests[key];
        request.parent = listing.reader;
        request.name = entry.name;
        stack.push_back(key);
    }
    listing.reader.reset();
}

void FolderListings::work()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        queued.wait(lock, [&] { return closing || !stack.empty(); });
        if (closing)
            return;
        const Key key = stack.back();
        stack.pop_back();
        const auto found = requests.find(key);
        if (found == requests.end() || found->second.state != Request::Queued)
            continue; // read by the scan already
        // Elements of the map stay in place while others come and go.
        Request &running = found->second;
        running.state = Request::Running;
        std::shared_ptr<FolderReader> parent = std::move(running.parent);
        lock.unlock();
        FolderListing listing = read(std::make_shared<FolderReader>(*parent, running.name));
        parent.reset();
        lock.lock();
        request(listing);
        running.listing = std::move(listing);
        running.state = Request::Done;
        done.notify_all();
    }
}
