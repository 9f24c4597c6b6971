#include "platform/Folder.h"

#include "platform/Descriptors.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#endif

namespace platform {

namespace {

int Errno()
{
    return errno ? errno : EIO;
}

void Close(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

EntryKind KindOf(mode_t mode)
{
    return S_ISREG(mode)   ? EntryKind::File
           : S_ISDIR(mode) ? EntryKind::Folder
           : S_ISLNK(mode) ? EntryKind::Link
                           : EntryKind::Other;
}

EntryInfo InfoOf(const struct stat &st)
{
#ifdef __APPLE__
    const struct timespec &modified = st.st_mtimespec;
#else
    const struct timespec &modified = st.st_mtim;
#endif
    EntryInfo info;
    info.kind = KindOf(st.st_mode);
    info.device = std::uint64_t(st.st_dev);
    info.inode = std::uint64_t(st.st_ino);
    info.size = std::int64_t(st.st_size);
    info.modifiedNs = std::int64_t(modified.tv_sec) * 1000000000 + modified.tv_nsec;
    info.mode = std::uint32_t(st.st_mode & 07777);
    info.links = std::uint64_t(st.st_nlink);
    return info;
}

const char *NameOrSelf(const NativePath &name)
{
    return name.empty() ? "." : name.c_str();
}

// A link where a folder was expected opens as ENOTDIR under O_NOFOLLOW|O_DIRECTORY on some
// systems; it is a link all the same.
int FolderOpenError(int dirFd, const char *name, int error)
{
    struct stat st = {};
    if (error == ENOTDIR && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
        return ELOOP;
    return error;
}

int OpenChildFd(int dirFd, const char *name)
{
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd >= 0 ? fd : -FolderOpenError(dirFd, name, errno);
}

// One openat2 call resolves a whole path beneath the folder where the kernel has it; each
// name opened by itself otherwise.
int OpenBeneathFd(int dirFd, const NativePath &relative)
{
#if defined(__linux__) && defined(SYS_openat2)
    static std::atomic<bool> noOpenat2{false};
    if (!noOpenat2) {
        struct open_how how = {};
        how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        for (;;) {
            const long fd = ::syscall(SYS_openat2, dirFd, relative.c_str(), &how, sizeof how);
            if (fd >= 0)
                return int(fd);
            if (errno == EAGAIN || errno == EINTR)
                continue;
            if (errno == ENOSYS || errno == EPERM) { // EPERM: a seccomp filter that forbids it
                noOpenat2 = true;
                break;
            }
            if (errno == ENOTDIR) {
                // Which component was a link rather than a file is not said; walk to see.
                break;
            }
            return -errno;
        }
    }
#endif
    int current = -1;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', start);
        const std::string name = relative.substr(start, slash - start);
        const int next = OpenChildFd(current >= 0 ? current : dirFd, name.c_str());
        Close(current);
        if (next < 0)
            return next;
        current = next;
        if (slash == std::string::npos)
            return current;
        start = slash + 1;
    }
}

// Checked in place: every file read checks its path, and a copy per name costs more than the
// check.
bool ValidRelative(const NativePath &relative)
{
    if (relative.find('\0') != std::string::npos)
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', start);
        const std::size_t size = (slash == std::string::npos ? relative.size() : slash) - start;
        const char *name = relative.data() + start;
        if (size == 0 || (size <= 2 && name[0] == '.' && name[size - 1] == '.'))
            return false;
        if (slash == std::string::npos)
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

std::string TemporaryName()
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string hex(16, '0');
    std::uint64_t value = random();
    for (int i = 15; i >= 0; --i, value >>= 4)
        hex[std::size_t(i)] = digits[value & 15];
    return ".parafold-" + std::to_string(::getpid()) + '-' + hex + ".tmp";
}

#ifdef O_TMPFILE
// Naming an unnamed file goes through /proc, which a container may lack.
bool UnnamedFilesCanBeNamed()
{
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}
#endif

// A new file under a hidden temporary name, removed again unless kept.
class Temporary
{
public:
    explicit Temporary(int dirFd) : dirFd(dirFd) {}
    ~Temporary()
    {
        Close(fd);
        if (!name.empty())
            ::unlinkat(dirFd, name.c_str(), 0);
    }
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;

    int create(mode_t mode)
    {
#ifdef O_TMPFILE
        // Unnamed while it is written: finding a new file its inode, which can be slow, then
        // holds no lock on the folder that the threads writing beside it wait for, and a run
        // killed meanwhile leaves nothing. finish() names it; a file system without unnamed
        // files has it named from the start.
        if (UnnamedFilesCanBeNamed()) {
            fd = ::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
            if (fd >= 0)
                return 0;
        }
#endif
        return takeFreeName([&] {
            fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          mode);
            return fd >= 0;
        });
    }
    int write(const char *data, std::size_t size)
    {
        return WriteAll(fd, data, size);
    }
    // flushFollows: the whole file system is flushed before the temporary is named.
    int finish(bool durable, bool flushFollows = true)
    {
        if (name.empty()) {
            if (const int failure = giveName())
                return failure;
        }
        if (durable && ::fsync(fd) != 0)
            return Errno();
#ifdef __linux__
        // Its pages set off for the disk now, while the run goes on: the flush that follows
        // then waits for less. A hint only, and only a cost where no flush follows. Small
        // files too, now that the threads deciding them write them, not the one renaming.
        if (!durable && flushFollows)
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
        (void)flushFollows;
#endif
        const int result = ::close(fd);
        fd = -1;
        return result == 0 ? 0 : Errno();
    }
    // The unnamed file takes a hidden temporary name, through the link the system keeps for
    // each open file.
    int giveName()
    {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        return takeFreeName([&] {
            return ::linkat(AT_FDCWD, self.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        });
    }
    // Gives `name` one hidden temporary name after another until `take` makes an entry of it;
    // a name someone else holds is passed over.
    template <typename Take> int takeFreeName(const Take &take)
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            name = TemporaryName();
            if (take())
                return 0;
            if (errno != EEXIST)
                break;
        }
        const int error = Errno();
        name.clear();
        return error;
    }
    // The temporary becomes `to` in target, which must not exist.
    int linkAs(int targetFd, const char *to)
    {
        if (::linkat(dirFd, name.c_str(), targetFd, to, 0) != 0)
            return Errno();
        return 0;
    }
    int renameOver(const char *to)
    {
        if (::renameat(dirFd, name.c_str(), dirFd, to) != 0)
            return Errno();
        name.clear();
        return 0;
    }

    // Files under this size keep the cached pages of what they replace: a few pages each.
    static constexpr std::size_t smallFileBytes = std::size_t(256) << 10;
    int dirFd;
    int fd = -1;
    std::string name;
};

#ifdef __linux__
// Every extended attribute the system lets this process read (user.*, the POSIX ACLs in
// system.posix_acl_access, security.* where it may), onto the new file.
int CopyAttributes(int fromFd, int toFd)
{
    std::vector<char> names(256);
    ssize_t length;
    for (;;) {
        length = ::flistxattr(fromFd, names.data(), names.size());
        if (length >= 0)
            break;
        if (errno == ENOTSUP)
            return 0;
        if (errno != ERANGE)
            return Errno();
        names.resize(names.size() * 4);
    }
    std::vector<char> value(256);
    for (ssize_t at = 0; at < length;) {
        const char *name = names.data() + at;
        at += ssize_t(std::strlen(name)) + 1;
        ssize_t size;
        for (;;) {
            size = ::fgetxattr(fromFd, name, value.data(), value.size());
            if (size >= 0 || errno != ERANGE)
                break;
            value.resize(value.size() * 4);
        }
        if (size < 0) {
            if (errno == ENODATA)
                continue; // removed meanwhile
            return Errno();
        }
        if (::fsetxattr(toFd, name, value.data(), std::size_t(size), 0) != 0)
            return Errno();
    }
    return 0;
}
#else
int CopyAttributes(int, int)
{
    return 0;
}
#endif

// Owner, group, mode and attributes of the replaced file onto its replacement. A writer that
// may not give the file away (not root) keeps what it may.
int CopyMetadata(int fromFd, const struct stat &from, int toFd)
{
    if (::fchown(toFd, from.st_uid, from.st_gid) != 0) {
        if (errno != EPERM)
            return Errno();
        if (::fchown(toFd, (uid_t)-1, from.st_gid) != 0 && errno != EPERM)
            return Errno();
    }
    // No set-id bits on new content: the kernel drops them on any write by another user too.
    const mode_t mode = from.st_mode & 0777;
    if (::fchmod(toFd, mode) != 0)
        return Errno();
    return CopyAttributes(fromFd, toFd);
}

// Root may write any file, so one that grants writing to nobody counts as read-only too.
bool ReadOnly(int dirFd, const char *name, const struct stat &st)
{
    return (st.st_mode & 0222) == 0 || ::faccessat(dirFd, name, W_OK, AT_EACCESS) != 0;
}

bool SameEntry(const EntryInfo &a, const EntryInfo &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modifiedNs == b.modifiedNs;
}

int RemoveTreeAt(int dirFd, const char *name, int depth)
{
    if (depth > 4096)
        return ELOOP;
    if (::unlinkat(dirFd, name, AT_REMOVEDIR) == 0)
        return 0;
    if (errno != ENOTEMPTY && errno != EEXIST)
        return Errno();
    const int fd = OpenChildFd(dirFd, name);
    if (fd < 0)
        return -fd;
    DIR *stream = ::fdopendir(fd);
    if (!stream) {
        const int error = Errno();
        ::close(fd);
        return error;
    }
    int failure = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(stream);
        if (!entry) {
            if (errno != 0 && failure == 0)
                failure = errno;
            break;
        }
        const char *child = entry->d_name;
        if (std::strcmp(child, ".") == 0 || std::strcmp(child, "..") == 0)
            continue;
        struct stat st = {};
        if (::fstatat(fd, child, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const int result = S_ISDIR(st.st_mode) ? RemoveTreeAt(fd, child, depth + 1)
                                               : (::unlinkat(fd, child, 0) == 0 ? 0 : Errno());
        if (result != 0 && failure == 0)
            failure = result;
    }
    ::closedir(stream);
    if (failure != 0)
        return failure;
    return ::unlinkat(dirFd, name, AT_REMOVEDIR) == 0 ? 0 : Errno();
}

} // namespace

NativePath ErrorText(int code)
{
    switch (code) {
    case ErrorChanged:
        return "the file changed";
    case ErrorReadOnly:
        return std::strerror(EACCES);
    case ErrorRefused:
        return "refused";
    case ErrorHardLinked:
        return std::strerror(EMLINK);
    case ErrorNotBeneath:
        return std::strerror(EXDEV);
    case ErrorNotOpen:
        return std::strerror(EBADF);
    case ErrorNotFolder:
        return std::strerror(ENOTDIR);
    case ErrorBusy:
        return std::strerror(EWOULDBLOCK);
    case ErrorNotFile:
        return "not a plain file";
    case ErrorOtherOwner:
        return "belongs to another user";
    case ErrorOpenToOthers:
        return "others may write in it";
    default:
        return std::strerror(code);
    }
}

bool IsMissing(int code)
{
    return code == ENOENT;
}

bool IsExisting(int code)
{
    return code == EEXIST;
}

bool IsPlainName(const NativePath &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

File::~File()
{
    Close(fd);
}

File::File(File &&other) noexcept : fd(other.fd), opened(other.opened)
{
    other.fd = -1;
}

File &File::operator=(File &&other) noexcept
{
    if (this != &other) {
        Close(fd);
        fd = other.fd;
        opened = other.opened;
        other.fd = -1;
    }
    return *this;
}

int File::Open(const NativePath &path, bool followLast, File &file)
{
    // Without O_NONBLOCK a pipe put where a file was would block for good.
    const int newFd =
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLast ? 0 : O_NOFOLLOW));
    if (newFd < 0)
        return Errno();
    return file.adopt(newFd);
}

bool File::isOpen() const
{
    return fd >= 0;
}

int File::info(EntryInfo &info) const
{
    if (fd < 0)
        return EBADF;
    info = opened;
    return 0;
}

int File::read(char *data, std::size_t size, std::size_t &got)
{
    for (;;) {
        const ssize_t result = ::read(fd, data, size);
        if (result >= 0) {
            got = std::size_t(result);
            return 0;
        }
        if (errno != EINTR)
            return Errno();
    }
}

int File::rewind()
{
    return ::lseek(fd, 0, SEEK_SET) == 0 ? 0 : Errno();
}

Folder::~Folder()
{
    Close(fd);
}

Folder::Folder(Folder &&other) noexcept : fd(other.fd)
{
    other.fd = -1;
}

Folder &Folder::operator=(Folder &&other) noexcept
{
    if (this != &other) {
        Close(fd);
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

int Folder::Open(const NativePath &path, Folder &folder)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Errno();
    folder = Folder();
    folder.fd = fd;
    return 0;
}

bool Folder::isOpen() const
{
    return fd >= 0;
}

int Folder::duplicate(Folder &copy) const
{
    const int newFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (newFd < 0)
        return Errno();
    copy = Folder();
    copy.fd = newFd;
    return 0;
}

int Folder::openBeneath(const NativePath &relative, Folder &folder) const
{
    if (relative.empty())
        return duplicate(folder);
    if (!ValidRelative(relative))
        return ErrorNotBeneath;
    const int newFd = OpenBeneathFd(fd, relative);
    if (newFd < 0)
        return -newFd;
    folder = Folder();
    folder.fd = newFd;
    return 0;
}

int Folder::openChild(const NativePath &name, Folder &folder, bool followLink) const
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    const int newFd = followLink ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                 : OpenChildFd(fd, name.c_str());
    if (followLink && newFd < 0)
        return Errno();
    if (newFd < 0)
        return -newFd;
    folder = Folder();
    folder.fd = newFd;
    return 0;
}

int Folder::info(const NativePath &name, EntryInfo &info, bool followLink) const
{
    if (!name.empty() && !IsPlainName(name))
        return ErrorNotBeneath;
    struct stat st = {};
    if (::fstatat(fd, NameOrSelf(name), &st, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            info = EntryInfo();
            return 0;
        }
        return Errno();
    }
    info = InfoOf(st);
    return 0;
}

int Folder::list(std::vector<ListedEntry> &entries) const
{
    entries.clear();
    // The stream takes over a descriptor of its own; ours stays for the calls by name.
    const int streamFd = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *stream = streamFd >= 0 ? ::fdopendir(streamFd) : nullptr;
    if (!stream) {
        const int error = Errno();
        if (streamFd >= 0)
            ::close(streamFd);
        return error;
    }
    int failure = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(stream);
        if (!entry) {
            failure = errno;
            break;
        }
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        EntryKind kind;
        switch (entry->d_type) {
        case DT_REG:
            kind = EntryKind::File;
            break;
        case DT_DIR:
            kind = EntryKind::Folder;
            break;
        case DT_LNK:
            kind = EntryKind::Link;
            break;
        case DT_UNKNOWN: {
            struct stat st = {};
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone since it was listed
            kind = KindOf(st.st_mode);
            break;
        }
        default:
            kind = EntryKind::Other;
        }
        entries.push_back({name, kind});
    }
    ::closedir(stream);
    return failure;
}

int HeldParents::open(const Folder &top, NativePathView relative, Folder *&folder)
{
    Held *slot = &held[0];
    bool found = false;
    for (Held &each : held) {
        found = each.top == &top && each.path == relative;
        if (found || each.lastUse < slot->lastUse)
            slot = &each;
        if (found)
            break;
    }
    if (!found) {
        slot->top = nullptr;
        slot->path.assign(relative);
        if (const int failure = top.openBeneath(slot->path, slot->folder))
            return failure;
        slot->top = &top;
    }
    slot->lastUse = ++uses;
    folder = &slot->folder;
    return 0;
}

int Folder::openFileBeneath(const NativePath &relative, File &file, HeldParents *held) const
{
    if (relative.empty() || !ValidRelative(relative))
        return ErrorNotBeneath;
    const std::size_t slash = relative.rfind('/');
    if (held && slash != std::string::npos) {
        Folder *parent = nullptr;
        if (const int failure =
                held->open(*this, NativePathView(relative).substr(0, slash), parent))
            return failure;
        return parent->openFile(relative.substr(slash + 1), file);
    }
#if defined(__linux__) && defined(SYS_openat2)
    // A folder opened for each file would double the calls of a read.
    static std::atomic<bool> noOpenat2{false};
    if (slash != std::string::npos && !noOpenat2) {
        struct open_how how = {};
        how.flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        long newFd;
        do {
            newFd = ::syscall(SYS_openat2, fd, relative.c_str(), &how, sizeof how);
        } while (newFd < 0 && (errno == EAGAIN || errno == EINTR));
        if (newFd >= 0)
            return file.adopt(int(newFd));
        if (errno != ENOSYS && errno != EPERM)
            return Errno();
        noOpenat2 = true;
    }
#endif
    if (slash == std::string::npos)
        return openFile(relative, file);
    Folder parent;
    if (const int failure = openBeneath(relative.substr(0, slash), parent))
        return failure;
    return parent.openFile(relative.substr(slash + 1), file);
}

int Folder::openFile(const NativePath &name, File &file) const
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    // Without O_NONBLOCK a pipe put where a file was would block for good.
    const int newFd = ::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (newFd < 0)
        return Errno();
    return file.adopt(newFd);
}

int File::adopt(int newFd)
{
    struct stat st = {};
    if (::fstat(newFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : Errno();
        ::close(newFd);
        return error == 0 ? EINVAL : error;
    }
    *this = File();
    fd = newFd;
    opened = InfoOf(st);
    return 0;
}

int Folder::makeFolder(const NativePath &name, std::uint32_t mode)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    return ::mkdirat(fd, name.c_str(), mode_t(mode)) == 0 ? 0 : Errno();
}

int Folder::writeNewFile(const NativePath &name, const char *data, std::size_t size,
                         std::uint32_t mode, bool durable)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    Temporary temporary(fd);
    int failure = temporary.create(mode_t(mode));
    if (failure == 0)
        failure = temporary.write(data, size);
    if (failure == 0)
        failure = temporary.finish(durable);
    // A link never follows nor replaces what stands at the name: exclusive by the system.
    if (failure == 0)
        failure = temporary.linkAs(fd, name.c_str());
    if (failure == 0 && durable && ::fsync(fd) != 0)
        failure = Errno();
    return failure;
}

AppendFile::~AppendFile()
{
    Close(fd);
}

AppendFile::AppendFile(AppendFile &&other) noexcept : fd(other.fd)
{
    other.fd = -1;
}

AppendFile &AppendFile::operator=(AppendFile &&other) noexcept
{
    if (this != &other) {
        Close(fd);
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

bool AppendFile::isOpen() const
{
    return fd >= 0;
}

int AppendFile::append(const char *data, std::size_t size)
{
    return fd < 0 ? EBADF : WriteAll(fd, data, size);
}

int AppendFile::flush()
{
    return fd < 0 ? EBADF : ::fsync(fd) == 0 ? 0 : Errno();
}

int Folder::createAppendFile(const NativePath &name, std::uint32_t mode, AppendFile &file)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    const int newFd =
        ::openat(fd, name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 mode_t(mode));
    if (newFd < 0)
        return Errno();
    file = AppendFile();
    file.fd = newFd;
    return 0;
}

int Folder::copyFile(const NativePath &from, Folder &target, const NativePath &to, bool durable)
{
    if (!IsPlainName(to))
        return ErrorNotBeneath;
    File source;
    if (const int failure = openFile(from, source))
        return failure;
    EntryInfo info;
    if (const int failure = source.info(info))
        return failure;
    Temporary temporary(target.fd);
    int failure = temporary.create(0600);
    std::vector<char> buffer(1 << 20);
    while (failure == 0) {
        std::size_t got = 0;
        failure = source.read(buffer.data(), buffer.size(), got);
        if (failure != 0 || got == 0)
            break;
        failure = temporary.write(buffer.data(), got);
    }
    if (failure == 0 && ::fchmod(temporary.fd, mode_t(info.mode & 0777)) != 0)
        failure = Errno();
    if (failure == 0)
        failure = temporary.finish(durable);
    if (failure == 0)
        failure = temporary.linkAs(target.fd, to.c_str());
    if (failure == 0 && durable && ::fsync(target.fd) != 0)
        failure = Errno();
    return failure;
}

struct PendingReplace::State
{
    ~State()
    {
        if (!temporary.empty())
            ::unlinkat(dirFd, temporary.c_str(), 0);
        Close(standingFd);
        Close(dirFd);
    }

    // The standing file is still the one measured, under its name.
    int recheck() const
    {
        if (standingFd < 0)
            return 0;
        struct stat now = {};
        struct stat entry = {};
        if (::fstat(standingFd, &now) != 0 ||
            ::fstatat(dirFd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
            !SameEntry(InfoOf(now), InfoOf(standing)) ||
            !SameEntry(InfoOf(entry), InfoOf(standing)))
            return checkIdentity ? ErrorChanged : EAGAIN;
        return 0;
    }

    int dirFd = -1;
    std::string name;
    std::string temporary;
    int standingFd = -1;
    struct stat standing = {};
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
    if (state->standingFd >= 0) {
        while (::flock(state->standingFd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
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
    if (::renameat(state->dirFd, state->temporary.c_str(), state->dirFd, state->name.c_str()) != 0)
        return Errno();
    state->temporary.clear();
    drop();
    return 0;
}

namespace {

// flushFollows: the whole file system is flushed before the rename (Temporary::finish).
int Prepare(int fd, const NativePath &name, const Folder::Content &content,
            const ReplaceCheck &check, bool flushData, bool flushFollows,
            PendingReplace::State &state)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    state.name = name;
    state.checkIdentity = check.checkIdentity;
    state.beforeRename = check.beforeRename;
    // The file as it stands, opened without following a link: its metadata go onto the new
    // file, and its lock keeps another run of this program from replacing it meanwhile.
    state.standingFd = ::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat &standing = state.standing;
    if (state.standingFd < 0) {
        // A link or nothing where the file was read is no longer that file.
        const bool gone = errno == ELOOP || errno == EMLINK || errno == ENOENT;
        if (check.checkIdentity && gone)
            return ErrorChanged;
        if (errno == EMLINK)
            return ELOOP;
        if (errno != ENOENT)
            return Errno();
    } else if (::fstat(state.standingFd, &standing) != 0 || !S_ISREG(standing.st_mode)) {
        const int error = S_ISDIR(standing.st_mode) ? EISDIR : EINVAL;
        return check.checkIdentity ? ErrorChanged : error;
    }
    if (check.checkIdentity && !SameEntry(InfoOf(standing), check.expected))
        return ErrorChanged;
    if (state.standingFd >= 0) {
        if (check.refuseReadOnly && ReadOnly(fd, name.c_str(), standing))
            return ErrorReadOnly;
        if (check.refuseHardLinked && standing.st_nlink > 1)
            return ErrorHardLinked;
    }
    // The pending rename outlives the caller's handle on the folder.
    state.dirFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (state.dirFd < 0)
        return Errno();
    Temporary temporary(fd);
    int failure = temporary.create(state.standingFd >= 0 ? 0600 : 0666);
    if (failure == 0)
        failure = content(
            [&](const char *data, std::size_t size) { return temporary.write(data, size); });
#ifdef POSIX_FADV_DONTNEED
    // The bytes being replaced are wanted again only by an undo, which reads them from the
    // disk: their cached pages go now, for the next new files to take, rather than more. A
    // small file's few pages are left: dropping them cost more than the room they make.
    if (failure == 0 && state.standingFd >= 0 &&
        standing.st_size >= off_t(Temporary::smallFileBytes))
        ::posix_fadvise(state.standingFd, 0, 0, POSIX_FADV_DONTNEED);
#endif
    if (failure == 0 && state.standingFd >= 0)
        failure = CopyMetadata(state.standingFd, standing, temporary.fd);
    if (failure == 0)
        failure = temporary.finish(flushData, flushFollows);
    if (failure == 0)
        state.temporary.swap(temporary.name);
    return failure;
}

} // namespace

int Folder::prepareReplace(const NativePath &name, const Content &content,
                           const ReplaceCheck &check, PendingReplace &pending)
{
    pending.drop();
    auto *state = new PendingReplace::State;
    const int failure =
        Prepare(fd, name, content, check, !FlushCoversFiles(), check.flushFollows, *state);
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
    pending.state = new PendingReplace::State;
    int failure =
        Prepare(fd, name, content, check, durable && !FlushCoversFiles(), durable, *pending.state);
    if (failure == 0)
        failure = pending.confirm();
    if (failure == 0 && durable && FlushCoversFiles())
        failure = FlushWrites(*this);
    if (failure == 0)
        failure = pending.commit();
    return failure;
}

int FlushWrites(const Folder &folder)
{
    if (!folder.isOpen())
        return ErrorNotOpen;
#ifdef __linux__
    return ::syncfs(folder.fd) == 0 ? 0 : Errno();
#else
    // Each file was flushed by itself; this takes the names there as well as it can.
    ::sync();
    return 0;
#endif
}

bool FlushCoversFiles()
{
#ifdef __linux__
    return true;
#else
    return false;
#endif
}

int Folder::link(const NativePath &from, Folder &target, const NativePath &to)
{
    if (!IsPlainName(from) || !IsPlainName(to))
        return ErrorNotBeneath;
    struct stat st = {};
    if (::fstatat(fd, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Errno();
    if (S_ISLNK(st.st_mode))
        return ELOOP;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    return ::linkat(fd, from.c_str(), target.fd, to.c_str(), 0) == 0 ? 0 : Errno();
}

int Folder::rename(const NativePath &from, Folder &target, const NativePath &to)
{
    if (!IsPlainName(from) || !IsPlainName(to))
        return ErrorNotBeneath;
    return ::renameat(fd, from.c_str(), target.fd, to.c_str()) == 0 ? 0 : Errno();
}

int Folder::removeFile(const NativePath &name)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    return ::unlinkat(fd, name.c_str(), 0) == 0 ? 0 : Errno();
}

int Folder::removeTree(const NativePath &name)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    struct stat st = {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Errno();
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(fd, name.c_str(), 0) == 0 ? 0 : Errno();
    return RemoveTreeAt(fd, name.c_str(), 0);
}

int Folder::setStamp(const NativePath &name, std::int64_t modifiedNs, std::uint32_t mode)
{
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    struct stat st = {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Errno();
    if (S_ISLNK(st.st_mode))
        return ELOOP;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(modifiedNs / 1000000000);
    times[1].tv_nsec = long(modifiedNs % 1000000000);
    if (times[1].tv_nsec < 0) {
        times[1].tv_nsec += 1000000000;
        times[1].tv_sec -= 1;
    }
    if (::utimensat(fd, name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return Errno();
    // glibc changes the mode of the entry itself, refusing a link that was swapped in.
    return ::fchmodat(fd, name.c_str(), mode_t(mode & 0777), AT_SYMLINK_NOFOLLOW) == 0 ? 0
                                                                                       : Errno();
}

FileLock::~FileLock()
{
    release();
}

FileLock::FileLock(FileLock &&other) noexcept : fd(other.fd)
{
    other.fd = -1;
}

FileLock &FileLock::operator=(FileLock &&other) noexcept
{
    if (this != &other) {
        release();
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

bool FileLock::isHeld() const
{
    return fd >= 0;
}

void FileLock::release()
{
    // Closing the only descriptor of the open file drops its lock.
    Close(fd);
}

namespace {

bool TrustedOwner(uid_t owner, uid_t topOwner)
{
    return owner == ::geteuid() || owner == 0 || owner == topOwner;
}

// Why the open file may not serve as the lock, or 0.
int LockFileRefusal(int file, uid_t topOwner, struct stat &status)
{
    if (::fstat(file, &status) != 0)
        return Errno();
    if (!S_ISREG(status.st_mode))
        return ErrorNotFile;
    if (status.st_nlink != 1)
        return ErrorHardLinked;
    return TrustedOwner(status.st_uid, topOwner) ? 0 : ErrorOtherOwner;
}

// A wait ends with EINTR on a signal, so that Ctrl-C ends it.
int Flock(int file, bool wait)
{
    int result;
    do
        result = ::flock(file, LOCK_EX | (wait ? 0 : LOCK_NB));
    while (result != 0 && errno == EINTR && !wait);
    if (result == 0)
        return 0;
    return errno == EWOULDBLOCK ? ErrorBusy : Errno();
}

} // namespace

int Folder::lockFile(const NativePath &name, const Folder &top, bool wait, FileLock &lock) const
{
    lock.release();
    if (fd < 0 || top.fd < 0)
        return ErrorNotOpen;
    if (!IsPlainName(name))
        return ErrorNotBeneath;
    struct stat topStatus = {};
    struct stat folderStatus = {};
    if (::fstat(top.fd, &topStatus) != 0 || ::fstat(fd, &folderStatus) != 0)
        return Errno();
    if (!TrustedOwner(folderStatus.st_uid, topStatus.st_uid))
        return ErrorOtherOwner;
    if ((folderStatus.st_mode & 022) != 0)
        return ErrorOpenToOthers;
    // A lock taken on a file that has meanwhile left its name guards nothing: the next
    // holder locks the file that has the name now. Only a trusted owner can do that, so a
    // few tries will do.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int file;
        do
            file =
                ::openat(fd, name.c_str(),
                         O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        while (file < 0 && errno == EINTR);
        if (file < 0)
            return errno == EISDIR ? ErrorNotFile : Errno();
        struct stat status = {};
        int failure = LockFileRefusal(file, topStatus.st_uid, status);
        if (failure == 0)
            failure = Flock(file, wait);
        struct stat named = {};
        if (failure == 0 && (::fstatat(fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
                             named.st_dev != status.st_dev || named.st_ino != status.st_ino)) {
            ::close(file);
            continue;
        }
        if (failure != 0) {
            ::close(file);
            return failure;
        }
        lock.fd = file;
        return 0;
    }
    return ErrorChanged;
}

int PathInfo(const NativePath &path, bool followLast, EntryInfo &info)
{
    struct stat st = {};
    if ((followLast ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
        info = EntryInfo();
        return Errno();
    }
    info = InfoOf(st);
    return 0;
}

int RealPath(const NativePath &path, NativePath &real)
{
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return Errno();
    real = resolved;
    std::free(resolved);
    return 0;
}

int LinkTarget(const NativePath &path, NativePath &target)
{
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), &buffer[0], buffer.size());
        if (length < 0)
            return Errno();
        if (std::size_t(length) < buffer.size()) {
            buffer.resize(std::size_t(length));
            target = buffer;
            return 0;
        }
        buffer.resize(buffer.size() * 2);
    }
}

int RemoveEntry(const NativePath &path)
{
    return ::unlink(path.c_str()) == 0 ? 0 : Errno();
}

int MakeOneFolder(const NativePath &path, std::uint32_t mode)
{
    return ::mkdir(path.c_str(), mode_t(mode)) == 0 ? 0 : Errno();
}

int MayWriteFile(const NativePath &path)
{
    // A file that cannot be looked at is not known to be read-only; its write will tell.
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0)
        return 0;
    return ReadOnly(AT_FDCWD, path.c_str(), st) ? EACCES : 0;
}

int MayWriteFolder(const NativePath &path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return Errno();
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if ((st.st_mode & 0222) == 0)
        return EACCES;
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : Errno();
}

void SplitPath(const NativePath &path, NativePath &folder, NativePath &name)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

bool IsSeparator(char32_t c)
{
    return c == U'/';
}

bool PathsIgnoreCase()
{
    return false;
}

} // namespace platform
