#include "platform/Folder.h"

#include "platform/FileLinks.h"

#include <random>
#include <vector>
// windows.h first: sddl.h builds on it.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

// Windows has no calls relative to a folder handle in its documented interface: each call
// takes the folder's full path joined with one name, checked first for a reparse point
// (symbolic link, junction, mount point), which is refused. The folder's own handle is held
// open without FILE_SHARE_DELETE, so the folder cannot be renamed or replaced meanwhile.
namespace platform {

namespace {

const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A link met where none may be.
const int linkRefused = ERROR_CANT_RESOLVE_FILENAME;
// A folder where a file is to be written: ERROR_DIRECTORY_NOT_SUPPORTED, which mingw-w64's
// headers lack.
const int folderRefused = 336;

// One name beneath a folder's full path; a drive's root ("C:\\") ends in its separator.
NativePath Join(const NativePath &folder, const NativePath &name)
{
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        return folder + name;
    return folder + L'\\' + name;
}

int LastError()
{
    const DWORD error = GetLastError();
    return error ? int(error) : int(ERROR_GEN_FAILURE);
}

HANDLE OpenEntry(const NativePath &path, DWORD access, bool followLink)
{
    return CreateFileW(ExtendedLengthPath(path).c_str(), access, shareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                       nullptr);
}

// Symbolic links, junctions and mount points stand for another name and count as links.
// Other reparse points (OneDrive's placeholders, deduplicated files) are the file or folder
// itself, and are read as such.
bool LeadsElsewhere(DWORD attributes, DWORD tag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag);
}

EntryInfo InfoOf(const BY_HANDLE_FILE_INFORMATION &data, DWORD tag)
{
    EntryInfo info;
    const DWORD attributes = data.dwFileAttributes;
    info.kind = LeadsElsewhere(attributes, tag)           ? EntryKind::Link
                : (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder
                                                          : EntryKind::File;
    info.device = data.dwVolumeSerialNumber;
    info.inode = (std::uint64_t(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    info.size = (std::int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // FILETIME counts 100 ns steps since 1601-01-01.
    const std::int64_t ticks = (std::int64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
    info.modifiedNs = (ticks - 116444736000000000LL) * 100;
    info.mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    info.links = data.nNumberOfLinks;
    return info;
}

int HandleInfo(HANDLE handle, EntryInfo &info)
{
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(handle, &data))
        return LastError();
    // A reparse point whose tag cannot be read counts as a link.
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    tag.ReparseTag = IO_REPARSE_TAG_SYMLINK;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        tag.ReparseTag = IO_REPARSE_TAG_SYMLINK;
    info = InfoOf(data, tag.ReparseTag);
    return 0;
}

bool IsMissingCode(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// The entry at path; kind Missing, and 0, when nothing is there.
int EntryAt(const NativePath &path, bool followLink, EntryInfo &info)
{
    const HANDLE handle = OpenEntry(path, FILE_READ_ATTRIBUTES, followLink);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        info = EntryInfo();
        return IsMissingCode(error) ? 0 : int(error);
    }
    const int failure = HandleInfo(handle, info);
    CloseHandle(handle);
    return failure;
}

// Checked in place: every file read checks its path, and a copy per name costs more than the
// check.
bool ValidRelative(const NativePath &relative)
{
    if (relative.find_first_of(L":", 0, 2) != NativePath::npos) // a colon or a NUL
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find_first_of(L"/\\", start);
        const std::size_t size = (slash == NativePath::npos ? relative.size() : slash) - start;
        const wchar_t *name = relative.data() + start;
        if (size == 0 || (size <= 2 && name[0] == L'.' && name[size - 1] == L'.'))
            return false;
        if (slash == NativePath::npos)
            return true;
        start = slash + 1;
    }
}

} // namespace

bool IsPlainRelative(const NativePath &relative)
{
    return ValidRelative(relative);
}

namespace {

NativePath TemporaryName()
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static const wchar_t digits[] = L"0123456789abcdef";
    NativePath hex(16, L'0');
    std::uint64_t value = random();
    for (int i = 15; i >= 0; --i, value >>= 4)
        hex[std::size_t(i)] = digits[value & 15];
    return L".parafold-" + std::to_wstring(GetCurrentProcessId()) + L'-' + hex + L".tmp";
}

int WriteHandle(HANDLE handle, const char *data, std::size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr))
            return LastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        data += written;
        size -= written;
    }
    return 0;
}

// A new file under a hidden temporary name in folder, removed again unless renamed.
class Temporary
{
public:
    explicit Temporary(const NativePath &folder) : folder(folder) {}
    ~Temporary()
    {
        close();
        if (!path.empty())
            DeleteFileW(ExtendedLengthPath(path).c_str());
    }
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;

    int create(SECURITY_ATTRIBUTES *security)
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            path = Join(folder, TemporaryName());
            handle = CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_WRITE, 0, security,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle != INVALID_HANDLE_VALUE)
                return 0;
            if (GetLastError() != ERROR_FILE_EXISTS)
                break;
        }
        const int error = LastError();
        path.clear();
        return error;
    }
    int write(const char *data, std::size_t size) { return WriteHandle(handle, data, size); }
    int finish(bool durable)
    {
        if (durable && !FlushFileBuffers(handle))
            return LastError();
        close();
        return 0;
    }
    // Named `to`, which must not exist yet.
    int moveTo(const NativePath &to)
    {
        if (!MoveFileExW(ExtendedLengthPath(path).c_str(), ExtendedLengthPath(to).c_str(),
                         MOVEFILE_WRITE_THROUGH))
            return LastError();
        path.clear();
        return 0;
    }
    // Over the file `to`, which keeps its ACLs, attributes and streams. A virus scanner or
    // the search indexer holds a file for a moment: tried again for about a third of a second.
    int replace(const NativePath &to)
    {
        DWORD pause = 20;
        const NativePath target = ExtendedLengthPath(to);
        for (int attempt = 0;; ++attempt) {
            // Whether another program holds the file is asked first: a failed ReplaceFileW
            // may leave a temporary file of its own beside it (wine's does).
            const HANDLE probe = CreateFileW(target.c_str(), DELETE, shareAll, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (probe != INVALID_HANDLE_VALUE) {
                CloseHandle(probe);
                if (ReplaceFileW(target.c_str(), ExtendedLengthPath(path).c_str(), nullptr,
                                 REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
                    path.clear();
                    return 0;
                }
            }
            const DWORD error = GetLastError();
            const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                              error == ERROR_LOCK_VIOLATION ||
                              error == ERROR_UNABLE_TO_REMOVE_REPLACED;
            if (!held || attempt == 4)
                return int(error);
            Sleep(pause);
            pause *= 2;
        }
    }

    NativePath path;

private:
    void close()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }

    NativePath folder;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// Owner-only access for the modes that grant nothing to group and others.
class Security
{
public:
    explicit Security(std::uint32_t mode)
    {
        wanted = (mode & 077) == 0;
        if (!wanted)
            return;
        // Full control for this user and the system, inherited below; nothing else. The
        // user by name: an ACE for OWNER RIGHTS would leave the owner nothing where the
        // owner is the Administrators group, and wine maps it to no access at all.
        const NativePath user = UserSid();
        if (user.empty())
            return;
        const NativePath sddl = L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)";
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                 &descriptor, nullptr)) {
            attributes.nLength = sizeof attributes;
            attributes.lpSecurityDescriptor = descriptor;
            attributes.bInheritHandle = FALSE;
        }
    }
    ~Security()
    {
        if (descriptor)
            LocalFree(descriptor);
    }
    Security(const Security &) = delete;
    Security &operator=(const Security &) = delete;
    // A private file or folder made without its owner-only ACL would be readable by all:
    // the caller refuses rather than make it.
    int failure() const { return wanted && !descriptor ? int(ERROR_INVALID_SECURITY_DESCR) : 0; }
    SECURITY_ATTRIBUTES *get() { return descriptor ? &attributes : nullptr; }

private:
    // The process's user as an SDDL SID string ("S-1-5-21-..."); empty when unknown.
    static NativePath UserSid()
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return NativePath();
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> buffer(size ? size : 1);
        NativePath result;
        wchar_t *text = nullptr;
        if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid,
                                   &text)) {
            result = text;
            LocalFree(text);
        }
        CloseHandle(token);
        return result;
    }

    bool wanted = false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {};
};

bool SameEntry(const EntryInfo &a, const EntryInfo &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modifiedNs == b.modifiedNs;
}

// Removes a file, or a link as a link. A read-only file goes too, as unlink() takes one on
// POSIX; its attribute is only cleared where that name is its only one, since attributes
// belong to the file and a second name may be the user's.
int DeleteEntry(const NativePath &path)
{
    const NativePath entry = ExtendedLengthPath(path);
    if (DeleteFileW(entry.c_str()))
        return 0;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(entry.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return int(error);
    const HANDLE handle =
        CreateFileW(entry.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shareAll,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return int(error);
    // FileDispositionInfoEx with DELETE, POSIX_SEMANTICS and IGNORE_READONLY_ATTRIBUTE, spelt
    // out: mingw-w64's headers hide them behind a version test that no _WIN32_WINNT passes.
    const auto dispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    DWORD disposeFlags = 0x1 | 0x2 | 0x10;
    int failure = 0;
    if (!SetFileInformationByHandle(handle, dispositionInfoEx, &disposeFlags,
                                    sizeof disposeFlags)) {
        // Before Windows 10 1809: clear the attribute where the file has no other name.
        BY_HANDLE_FILE_INFORMATION data;
        FILE_BASIC_INFO basic = {};
        FILE_DISPOSITION_INFO remove = {};
        remove.DeleteFile = TRUE;
        if (!GetFileInformationByHandle(handle, &data) || data.nNumberOfLinks != 1 ||
            !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
            failure = int(error);
        } else {
            const DWORD kept = basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
            basic.FileAttributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
            basic.CreationTime.QuadPart = 0;
            basic.LastAccessTime.QuadPart = 0;
            basic.LastWriteTime.QuadPart = 0;
            basic.ChangeTime.QuadPart = 0;
            if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) ||
                !SetFileInformationByHandle(handle, FileDispositionInfo, &remove, sizeof remove))
                failure = LastError();
        }
    }
    CloseHandle(handle);
    return failure;
}

int OpenFolder(const NativePath &path, bool followLink, HANDLE &handle);

// The folder is held open, a link refused, while what is in it goes: it cannot be swapped
// for a junction that would lead the removal out of the tree.
int RemoveTreeAt(const NativePath &path, int depth)
{
    if (depth > 4096)
        return linkRefused;
    HANDLE held = nullptr;
    if (const int failure = OpenFolder(path, false, held))
        return failure;
    WIN32_FIND_DATAW found;
    const HANDLE search =
        FindFirstFileExW(ExtendedLengthPath(Join(path, L"*")).c_str(), FindExInfoBasic, &found,
                         FindExSearchNameMatch, nullptr, 0);
    int failure = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const NativePath name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const NativePath child = Join(path, name);
            const DWORD attributes = found.dwFileAttributes;
            int result = 0;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !LeadsElsewhere(attributes, found.dwReserved0))
                result = RemoveTreeAt(child, depth + 1);
            else if (attributes & FILE_ATTRIBUTE_DIRECTORY) // a folder link, as a link
                result = RemoveDirectoryW(ExtendedLengthPath(child).c_str()) ? 0 : LastError();
            else
                result = DeleteEntry(child);
            if (result != 0 && failure == 0)
                failure = result;
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    CloseHandle(held);
    if (failure != 0)
        return failure;
    // Swapped for a link only now, the link itself goes.
    return RemoveDirectoryW(ExtendedLengthPath(path).c_str()) ? 0 : LastError();
}

} // namespace

NativePath ErrorText(int code)
{
    switch (code) {
    case ErrorChanged:
        return L"the file changed";
    case ErrorReadOnly:
        return ErrorText(ERROR_ACCESS_DENIED);
    case ErrorRefused:
        return L"refused";
    case ErrorHardLinked:
        return ErrorText(ERROR_TOO_MANY_LINKS);
    case ErrorNotBeneath:
        return ErrorText(ERROR_BAD_PATHNAME);
    case ErrorNotOpen:
        return ErrorText(ERROR_INVALID_HANDLE);
    case ErrorNotFolder:
        return ErrorText(ERROR_DIRECTORY);
    case ErrorBusy:
        return ErrorText(ERROR_LOCK_VIOLATION);
    case ErrorNotFile:
        return L"not a plain file";
    case ErrorOtherOwner:
        return L"belongs to another user";
    case ErrorOpenToOthers:
        return L"others may write in it";
    default:
        break;
    }
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(code), 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    NativePath text = length ? NativePath(buffer, length) : L"error " + std::to_wstring(code);
    if (buffer)
        LocalFree(buffer);
    // Messages end in a line break and a full stop, an ideographic one in Chinese.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.' ||
                             text.back() == L'\x3002'))
        text.pop_back();
    return text;
}

bool IsMissing(int code)
{
    return IsMissingCode(DWORD(code));
}

bool IsExisting(int code)
{
    return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
}

bool IsPlainName(const NativePath &name)
{
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(L"/\\:", 0, 4) == NativePath::npos;
}

File::~File()
{
    if (handle)
        CloseHandle(handle);
}

File::File(File &&other) noexcept : handle(other.handle)
{
    other.handle = nullptr;
}

File &File::operator=(File &&other) noexcept
{
    if (this != &other) {
        if (handle)
            CloseHandle(handle);
        handle = other.handle;
        other.handle = nullptr;
    }
    return *this;
}

int File::Open(const NativePath &path, bool followLast, File &file)
{
    const NativePath extended = ExtendedLengthPath(path);
    HANDLE handle = CreateFileW(extended.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING,
                                followLast ? 0 : FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    EntryInfo info;
    int failure = HandleInfo(handle, info);
    BY_HANDLE_FILE_INFORMATION data;
    if (failure == 0 && !followLast && info.kind == EntryKind::File &&
        GetFileInformationByHandle(handle, &data) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A file that is its own reparse point gives its content only to a handle that lets
        // its filter in: opened again so, and kept only if it is the same file.
        const HANDLE plain = CreateFileW(extended.c_str(), GENERIC_READ, shareAll, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
        EntryInfo again;
        if (plain == INVALID_HANDLE_VALUE) {
            failure = LastError();
        } else if (HandleInfo(plain, again) != 0 || again.device != info.device ||
                   again.inode != info.inode) {
            CloseHandle(plain);
            failure = ErrorChanged;
        } else {
            CloseHandle(handle);
            handle = plain;
        }
    }
    if (failure == 0 && info.kind == EntryKind::Link)
        failure = linkRefused;
    else if (failure == 0 && info.kind != EntryKind::File)
        failure = ERROR_ACCESS_DENIED;
    if (failure != 0) {
        CloseHandle(handle);
        return failure;
    }
    file = File();
    file.handle = handle;
    return 0;
}

bool File::isOpen() const
{
    return handle != nullptr;
}

int File::info(EntryInfo &info) const
{
    return HandleInfo(handle, info);
}

int File::read(char *data, std::size_t size, std::size_t &got)
{
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : DWORD(size);
    DWORD read = 0;
    if (!ReadFile(handle, data, chunk, &read, nullptr))
        return LastError();
    got = read;
    return 0;
}

int File::rewind()
{
    LARGE_INTEGER start;
    start.QuadPart = 0;
    return SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) ? 0 : LastError();
}

Folder::~Folder()
{
    if (handle)
        CloseHandle(handle);
}

Folder::Folder(Folder &&other) noexcept : handle(other.handle), path(std::move(other.path))
{
    other.handle = nullptr;
}

Folder &Folder::operator=(Folder &&other) noexcept
{
    if (this != &other) {
        if (handle)
            CloseHandle(handle);
        handle = other.handle;
        path = std::move(other.path);
        other.handle = nullptr;
    }
    return *this;
}

namespace {

// Opens path as a folder, a link refused unless followLink.
int OpenFolder(const NativePath &path, bool followLink, HANDLE &handle)
{
    handle = CreateFileW(
        ExtendedLengthPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        handle = nullptr;
        return LastError();
    }
    EntryInfo info;
    int failure = HandleInfo(handle, info);
    if (failure == 0 && info.kind == EntryKind::Link)
        failure = linkRefused;
    else if (failure == 0 && info.kind != EntryKind::Folder)
        failure = ERROR_DIRECTORY;
    if (failure != 0) {
        CloseHandle(handle);
        handle = nullptr;
    }
    return failure;
}

} // namespace

int Folder::Open(const NativePath &path, Folder &folder)
{
    NativePath full = path;
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size != 0) {
        full.assign(size, L'\0');
        const DWORD written = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
        full.resize(written < size ? written : 0);
        if (full.empty())
            full = path;
    }
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    HANDLE handle = nullptr;
    if (const int failure = OpenFolder(full, true, handle))
        return failure;
    folder = Folder();
    folder.handle = handle;
    folder.path = full;
    return 0;
}

bool Folder::isOpen() const
{
    return handle != nullptr;
}

int Folder::duplicate(Folder &copy) const
{
    HANDLE duplicated = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &duplicated, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return LastError();
    copy = Folder();
    copy.handle = duplicated;
    copy.path = path;
    return 0;
}

int Folder::openBeneath(const NativePath &relative, Folder &folder) const
{
    if (relative.empty())
        return duplicate(folder);
    if (!ValidRelative(relative))
        return ErrorNotBeneath;
    Folder current;
    if (const int failure = duplicate(current))
        return failure;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find_first_of(L"/\\", start);
        Folder next;
        if (const int failure = current.openChild(relative.substr(start, slash - start), next))
            return failure;
        current = std::move(next);
        if (slash == NativePath::npos)
            break;
        start = slash + 1;
    }
    folder = std::move(current);
    return 0;
}

int Folder::openChild(const NativePath &name, Folder &folder, bool followLink) const
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    const NativePath child = Join(path, name);
    HANDLE childHandle = nullptr;
    if (const int failure = OpenFolder(child, followLink, childHandle))
        return failure;
    folder = Folder();
    folder.handle = childHandle;
    folder.path = child;
    return 0;
}

int Folder::info(const NativePath &name, EntryInfo &info, bool followLink) const
{
    if (name.empty())
        return HandleInfo(handle, info);
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    return EntryAt(Join(path, name), followLink, info);
}

int Folder::list(std::vector<ListedEntry> &entries) const
{
    entries.clear();
    WIN32_FIND_DATAW found;
    const HANDLE search =
        FindFirstFileExW(ExtendedLengthPath(Join(path, L"*")).c_str(), FindExInfoBasic, &found,
                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : LastError();
    do {
        const NativePath name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const DWORD attributes = found.dwFileAttributes;
        const EntryKind kind = LeadsElsewhere(attributes, found.dwReserved0) ? EntryKind::Link
                               : (attributes & FILE_ATTRIBUTE_DIRECTORY)     ? EntryKind::Folder
                               : (attributes & FILE_ATTRIBUTE_DEVICE)        ? EntryKind::Other
                                                                             : EntryKind::File;
        entries.push_back({name, kind});
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? 0 : int(error);
}

int Folder::openFile(const NativePath &name, File &file) const
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    return File::Open(Join(path, name), false, file);
}

// A file is opened here by its path, not in its folder's handle: a folder is opened, and its
// way checked, again for each call, held or not.
int HeldParents::open(const Folder &top, NativePathView relative, Folder *&folder)
{
    Held *slot = &held[0];
    for (Held &each : held) {
        if (each.lastUse < slot->lastUse)
            slot = &each;
    }
    slot->path.assign(relative);
    if (const int failure = top.openBeneath(slot->path, slot->folder))
        return failure;
    slot->lastUse = ++uses;
    folder = &slot->folder;
    return 0;
}

int Folder::openFileBeneath(const NativePath &relative, File &file, HeldParents *) const
{
    const std::size_t slash = relative.find_last_of(L"/\\");
    if (slash == NativePath::npos)
        return openFile(relative, file);
    Folder parent;
    if (const int failure = openBeneath(relative.substr(0, slash), parent))
        return failure;
    return parent.openFile(relative.substr(slash + 1), file);
}

int Folder::makeFolder(const NativePath &name, std::uint32_t mode)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    Security security(mode);
    if (const int failure = security.failure())
        return failure;
    return CreateDirectoryW(ExtendedLengthPath(Join(path, name)).c_str(), security.get())
               ? 0
               : LastError();
}

int Folder::writeNewFile(const NativePath &name, const char *data, std::size_t size,
                         std::uint32_t mode, bool durable)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    Security security(mode);
    Temporary temporary(path);
    int failure = security.failure();
    if (failure == 0)
        failure = temporary.create(security.get());
    if (failure == 0)
        failure = temporary.write(data, size);
    if (failure == 0)
        failure = temporary.finish(durable);
    // Without MOVEFILE_REPLACE_EXISTING an entry of that name, a link too, makes it fail.
    if (failure == 0)
        failure = temporary.moveTo(Join(path, name));
    return failure;
}

AppendFile::~AppendFile()
{
    if (handle)
        CloseHandle(handle);
}

AppendFile::AppendFile(AppendFile &&other) noexcept : handle(other.handle)
{
    other.handle = nullptr;
}

AppendFile &AppendFile::operator=(AppendFile &&other) noexcept
{
    if (this != &other) {
        if (handle)
            CloseHandle(handle);
        handle = other.handle;
        other.handle = nullptr;
    }
    return *this;
}

bool AppendFile::isOpen() const
{
    return handle != nullptr;
}

int AppendFile::append(const char *data, std::size_t size)
{
    return handle ? WriteHandle(handle, data, size) : ERROR_INVALID_HANDLE;
}

int AppendFile::flush()
{
    return !handle ? ERROR_INVALID_HANDLE : FlushFileBuffers(handle) ? 0 : LastError();
}

int Folder::createAppendFile(const NativePath &name, std::uint32_t mode, AppendFile &file)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    Security security(mode);
    // Appending only: every write lands at the end, whoever else has the file open.
    HANDLE opened =
        CreateFileW(ExtendedLengthPath(Join(path, name)).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                    security.get(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return LastError();
    file = AppendFile();
    file.handle = opened;
    return 0;
}

int Folder::copyFile(const NativePath &from, Folder &target, const NativePath &to, bool durable)
{
    if (!IsPlainName(from) || !IsPlainName(to))
        return ErrorNotBeneath;
    File source;
    if (const int failure = openFile(from, source))
        return failure;
    Temporary temporary(target.path);
    int failure = temporary.create(nullptr);
    std::vector<char> buffer(1 << 20);
    while (failure == 0) {
        std::size_t got = 0;
        failure = source.read(buffer.data(), buffer.size(), got);
        if (failure != 0 || got == 0)
            break;
        failure = temporary.write(buffer.data(), got);
    }
    if (failure == 0)
        failure = temporary.finish(durable);
    EntryInfo info;
    if (failure == 0 && source.info(info) == 0 && info.mode == 0444)
        SetFileAttributesW(ExtendedLengthPath(temporary.path).c_str(), FILE_ATTRIBUTE_READONLY);
    if (failure == 0)
        failure = temporary.moveTo(Join(target.path, to));
    return failure;
}

struct PendingReplace::State
{
    explicit State(const NativePath &folder) : temporary(folder) {}

    // The entry is still the one measured.
    int recheck() const
    {
        EntryInfo now;
        if (EntryAt(target, false, now) != 0 || now.kind != standing.kind ||
            (exists && !SameEntry(now, standing)))
            return checkIdentity ? int(ErrorChanged) : int(ERROR_SHARING_VIOLATION);
        return 0;
    }

    Temporary temporary;
    NativePath target;
    EntryInfo standing;
    bool exists = false;
    bool checkIdentity = false;
    std::function<bool()> beforeRename;
};

void PendingReplace::drop()
{
    delete state;
    state = nullptr;
}

int PendingReplace::confirm(const std::function<bool()> &beforeRename)
{
    if (!state)
        return ErrorNotOpen;
    // Someone may have changed or replaced the file while its new content was written.
    if (const int failure = state->recheck())
        return failure;
    const std::function<bool()> &last = beforeRename ? beforeRename : state->beforeRename;
    if (last && !last())
        return ErrorRefused;
    return 0;
}

int PendingReplace::commit()
{
    if (!state)
        return ErrorNotOpen;
    if (const int failure = state->recheck())
        return failure;
    const int failure = state->exists ? state->temporary.replace(state->target)
                                      : state->temporary.moveTo(state->target);
    if (failure == 0)
        drop();
    return failure;
}

namespace {

// NTFS logs its names itself; a file's data reach the disk only by FlushFileBuffers, here
// before the temporary is closed.
int Prepare(const NativePath &folder, const NativePath &name, const Folder::Content &content,
            const ReplaceCheck &check, bool flushData, PendingReplace::State &state)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    state.target = Join(folder, name);
    state.checkIdentity = check.checkIdentity;
    state.beforeRename = check.beforeRename;
    EntryInfo &standing = state.standing;
    if (const int failure = EntryAt(state.target, false, standing))
        return failure;
    state.exists = standing.kind != EntryKind::Missing;
    if (check.checkIdentity &&
        (standing.kind != EntryKind::File || !SameEntry(standing, check.expected)))
        return ErrorChanged;
    if (standing.kind == EntryKind::Link)
        return linkRefused;
    if (standing.kind == EntryKind::Folder)
        return folderRefused;
    // The read-only attribute guards a file on Windows; a replacement would drop it.
    if (state.exists && standing.mode == 0444)
        return check.refuseReadOnly ? int(ErrorReadOnly) : int(ERROR_ACCESS_DENIED);
    if (check.refuseHardLinked && standing.links > 1)
        return ErrorHardLinked;
    int failure = state.temporary.create(nullptr);
    if (failure == 0)
        failure = content(
            [&](const char *data, std::size_t size) { return state.temporary.write(data, size); });
    if (failure == 0)
        failure = state.temporary.finish(flushData);
    return failure;
}

} // namespace

int Folder::prepareReplace(const NativePath &name, const Content &content,
                           const ReplaceCheck &check, PendingReplace &pending)
{
    pending.drop();
    auto *state = new PendingReplace::State(path);
    const int failure = Prepare(path, name, content, check, true, *state);
    if (failure != 0) {
        delete state;
        return failure;
    }
    pending.state = state;
    return 0;
}

int Folder::replaceFile(const NativePath &name, const char *data, std::size_t size,
                        const ReplaceCheck &check, bool durable)
{
    return replaceFile(
        name, [&](const Write &write) { return write(data, size); }, check, durable);
}

int Folder::replaceFile(const NativePath &name, const Content &content, const ReplaceCheck &check,
                        bool durable)
{
    PendingReplace pending;
    pending.state = new PendingReplace::State(path);
    int failure = Prepare(path, name, content, check, durable, *pending.state);
    if (failure == 0)
        failure = pending.confirm();
    if (failure == 0)
        failure = pending.commit();
    return failure;
}

int FlushWrites(const Folder &folder)
{
    // Each file was flushed by itself, and NTFS logs its names.
    return folder.isOpen() ? 0 : int(ErrorNotOpen);
}

bool FlushCoversFiles()
{
    return false;
}

int Folder::link(const NativePath &from, Folder &target, const NativePath &to)
{
    if (!IsPlainName(from) || !IsPlainName(to))
        return ErrorNotBeneath;
    EntryInfo info;
    if (const int failure = EntryAt(Join(path, from), false, info))
        return failure;
    if (info.kind == EntryKind::Link)
        return linkRefused;
    if (info.kind != EntryKind::File)
        return info.kind == EntryKind::Missing ? int(ERROR_FILE_NOT_FOUND)
                                               : int(ERROR_ACCESS_DENIED);
    return CreateHardLinkW(ExtendedLengthPath(Join(target.path, to)).c_str(),
                           ExtendedLengthPath(Join(path, from)).c_str(), nullptr)
               ? 0
               : LastError();
}

int Folder::rename(const NativePath &from, Folder &target, const NativePath &to)
{
    if (!IsPlainName(from) || !IsPlainName(to))
        return ErrorNotBeneath;
    return RenameOver(Join(path, from), Join(target.path, to));
}

int Folder::removeFile(const NativePath &name)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    const NativePath entry = ExtendedLengthPath(Join(path, name));
    const DWORD attributes = GetFileAttributesW(entry.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveDirectoryW(entry.c_str()) ? 0 : LastError();
    return DeleteEntry(Join(path, name));
}

int Folder::removeTree(const NativePath &name)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    const NativePath entry = Join(path, name);
    EntryInfo info;
    if (const int failure = EntryAt(entry, false, info))
        return failure;
    if (info.kind == EntryKind::Missing)
        return ERROR_FILE_NOT_FOUND;
    if (info.kind != EntryKind::Folder)
        return removeFile(name);
    return RemoveTreeAt(entry, 0);
}

int Folder::setStamp(const NativePath &name, std::int64_t modifiedNs, std::uint32_t mode)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    const HANDLE handle =
        OpenEntry(Join(path, name), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, false);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    EntryInfo info;
    int failure = HandleInfo(handle, info);
    if (failure == 0 && info.kind == EntryKind::Link)
        failure = linkRefused;
    if (failure == 0) {
        const std::int64_t ticks = modifiedNs / 100 + 116444736000000000LL;
        FILETIME modified;
        modified.dwLowDateTime = DWORD(ticks & 0xFFFFFFFF);
        modified.dwHighDateTime = DWORD(std::uint64_t(ticks) >> 32);
        if (!SetFileTime(handle, nullptr, nullptr, &modified))
            failure = LastError();
    }
    if (failure == 0) {
        FILE_BASIC_INFO basic = {};
        if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
            failure = LastError();
        } else {
            DWORD attributes = basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
            if ((mode & 0222) == 0)
                attributes |= FILE_ATTRIBUTE_READONLY;
            basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
            basic.LastWriteTime.QuadPart = 0; // left as just set
            basic.CreationTime.QuadPart = 0;
            basic.LastAccessTime.QuadPart = 0;
            basic.ChangeTime.QuadPart = 0;
            if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic))
                failure = LastError();
        }
    }
    CloseHandle(handle);
    return failure;
}

FileLock::~FileLock()
{
    release();
}

FileLock::FileLock(FileLock &&other) noexcept : handle(other.handle)
{
    other.handle = nullptr;
}

FileLock &FileLock::operator=(FileLock &&other) noexcept
{
    if (this != &other) {
        release();
        handle = other.handle;
        other.handle = nullptr;
    }
    return *this;
}

bool FileLock::isHeld() const
{
    return handle != nullptr;
}

void FileLock::release()
{
    // Closing the handle drops its lock.
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}

namespace {

// The owner of an object as read by GetSecurityInfo or GetNamedSecurityInfoW, freed with it.
struct Owner
{
    PSID sid = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ~Owner()
    {
        if (descriptor)
            LocalFree(descriptor);
    }
};

bool IsUserOrAdministrator(PSID sid)
{
    if (!sid || !IsValidSid(sid))
        return false;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid))
        return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    const bool same = size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
                      EqualSid(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, sid);
    CloseHandle(token);
    return same;
}

bool TrustedOwner(PSID sid, const Owner &top)
{
    return IsUserOrAdministrator(sid) || (sid && top.sid && EqualSid(sid, top.sid));
}

// Why the open entry may not serve as the lock, or 0.
int LockFileRefusal(HANDLE file, const Owner &top)
{
    EntryInfo info;
    if (const int failure = HandleInfo(file, info))
        return failure;
    if (info.kind == EntryKind::Link)
        return linkRefused;
    if (info.kind != EntryKind::File)
        return ErrorNotFile;
    if (info.links != 1)
        return ErrorHardLinked;
    Owner owner;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner.sid, nullptr,
                        nullptr, nullptr, &owner.descriptor) != ERROR_SUCCESS)
        return LastError();
    return TrustedOwner(owner.sid, top) ? 0 : ErrorOtherOwner;
}

} // namespace

int Folder::lockFile(const NativePath &name, const Folder &top, bool wait, FileLock &lock) const
{
    lock.release();
    if (!handle || !top.handle)
        return ErrorNotOpen;
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    Owner topOwner;
    Owner folderOwner;
    if (GetNamedSecurityInfoW(ExtendedLengthPath(top.path).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION, &topOwner.sid, nullptr, nullptr, nullptr,
                              &topOwner.descriptor) != ERROR_SUCCESS ||
        GetNamedSecurityInfoW(ExtendedLengthPath(path).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION, &folderOwner.sid, nullptr, nullptr,
                              nullptr, &folderOwner.descriptor) != ERROR_SUCCESS)
        return LastError();
    if (!TrustedOwner(folderOwner.sid, topOwner))
        return ErrorOtherOwner;
    Security security(0600);
    if (const int failure = security.failure())
        return failure;
    // Shared for reading, so that the next holder can open it to wait, but not for deleting:
    // the file keeps its name while it is held. A link in its place is opened as the link
    // and refused.
    const HANDLE file =
        CreateFileW(ExtendedLengthPath(Join(path, name)).c_str(), GENERIC_READ | READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, security.get(), OPEN_ALWAYS,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LastError();
    int failure = LockFileRefusal(file, topOwner);
    if (failure == 0) {
        OVERLAPPED at = {};
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0,
                        1, 0, &at))
            failure = GetLastError() == ERROR_LOCK_VIOLATION ? int(ErrorBusy) : LastError();
    }
    if (failure != 0) {
        CloseHandle(file);
        return failure;
    }
    lock.handle = file;
    return 0;
}

int PathInfo(const NativePath &path, bool followLast, EntryInfo &info)
{
    if (const int failure = EntryAt(path, followLast, info))
        return failure;
    return info.kind == EntryKind::Missing ? int(ERROR_FILE_NOT_FOUND) : 0;
}

namespace {

// The path of an open handle as the system names it, without the "\\?\" prefix.
int FinalPath(HANDLE handle, NativePath &path)
{
    DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    if (size == 0)
        return LastError();
    NativePath buffer(size, L'\0');
    size = GetFinalPathNameByHandleW(handle, &buffer[0], size, FILE_NAME_NORMALIZED);
    if (size == 0 || size >= buffer.size())
        return LastError();
    buffer.resize(size);
    if (buffer.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        buffer = L"\\\\" + buffer.substr(8);
    else if (buffer.compare(0, 4, L"\\\\?\\") == 0)
        buffer = buffer.substr(4);
    path = buffer;
    return 0;
}

} // namespace

int RealPath(const NativePath &path, NativePath &real)
{
    const HANDLE handle = OpenEntry(path, FILE_READ_ATTRIBUTES, true);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    const int failure = FinalPath(handle, real);
    CloseHandle(handle);
    return failure;
}

int LinkTarget(const NativePath &path, NativePath &target)
{
    EntryInfo info;
    if (const int failure = EntryAt(path, false, info))
        return failure;
    if (info.kind != EntryKind::Link)
        return ERROR_NOT_A_REPARSE_POINT;
    // Where the link leads, resolved: enough for the questions asked of it.
    return RealPath(path, target);
}

int RemoveEntry(const NativePath &path)
{
    const NativePath entry = ExtendedLengthPath(path);
    const DWORD attributes = GetFileAttributesW(entry.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveDirectoryW(entry.c_str()) ? 0 : LastError();
    return DeleteFileW(entry.c_str()) ? 0 : LastError();
}

int MakeOneFolder(const NativePath &path, std::uint32_t mode)
{
    Security security(mode);
    if (const int failure = security.failure())
        return failure;
    return CreateDirectoryW(ExtendedLengthPath(path).c_str(), security.get()) ? 0 : LastError();
}

int MayWriteFile(const NativePath &path)
{
    // A file that cannot be looked at is not known to be read-only; its write will tell.
    EntryInfo info;
    if (EntryAt(path, false, info) != 0)
        return 0;
    return info.kind == EntryKind::File && info.mode == 0444 ? int(ERROR_ACCESS_DENIED) : 0;
}

int MayWriteFolder(const NativePath &path)
{
    // Asking for the right to add a file checks the folder's ACL and a read-only medium
    // without making anything; the read-only attribute means nothing on a folder.
    HANDLE folder = CreateFileW(ExtendedLengthPath(path).c_str(), FILE_ADD_FILE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return LastError();
    CloseHandle(folder);
    return 0;
}

void SplitPath(const NativePath &path, NativePath &folder, NativePath &name)
{
    const std::size_t slash = path.find_last_of(L"/\\");
    if (slash == NativePath::npos) {
        folder = L".";
        name = path;
        return;
    }
    folder = path.substr(0, slash);
    name = path.substr(slash + 1);
    // "C:\a" lies in "C:\", "\a" in "\".
    if (folder.empty() || (folder.size() == 2 && folder[1] == L':'))
        folder += L'\\';
}

bool IsSeparator(char32_t c)
{
    return c == U'/' || c == U'\\';
}

bool PathsIgnoreCase()
{
    return true;
}

} // namespace platform
