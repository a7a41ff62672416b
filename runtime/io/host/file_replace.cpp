// Whole-file writes that never leave a half-written file: the new content
// goes to a file beside the target, which is renamed over the target only
// once every byte is written and the file closed without error. That is
// done only for the user's own ordinary files; every other target is
// written in place, as open(2) allows.
#include "runtime/io/host/file_replace.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "runtime/io/host/simple_io.h"

namespace zan {

namespace {

// The name a symbolic link leads to (made relative to the link's own
// directory when it is relative); false when the name is no link or its
// content cannot be read.
bool next_link(const std::string& path, std::string* next) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return false;
    std::string link(buf, static_cast<size_t>(n));
    if (link[0] != '/') {
        size_t slash = path.rfind('/');
        link = slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
    }
    *next = link;
    return true;
}

// How many links a chain may have before it counts as a loop.
constexpr int kMaxLinkHops = 40;

// Where a chain of symbolic links ends: writing through a link replaces
// the file it leads to and keeps the link. A name that is no link (or
// whose chain cannot be followed) stays as it is.
std::string final_target(const std::string& name) {
    std::string path = name;
    for (int hops = 0; hops < kMaxLinkHops && next_link(path, &path); hops++) {
    }
    return path;
}

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The decimal number that is the whole of text, or -1.
long number_of(const std::string& text) {
    if (text.empty() || text.size() > 9) return -1;
    long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// The descriptor an absolute, canonical name stands for when it is one of
// this process's descriptor entries (/proc/PID/fd/N or
// /proc/PID/task/TID/fd/N, PID being ours), else -1.
int descriptor_entry(const std::string& path) {
    std::string prefix = "/proc/" + std::to_string(getpid()) + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return -1;
    std::string rest = path.substr(prefix.size());
    if (rest.compare(0, 5, "task/") == 0) {
        size_t slash = rest.find('/', 5);
        if (slash == std::string::npos) return -1;
        rest = rest.substr(slash + 1);
    }
    if (rest.compare(0, 3, "fd/") != 0) return -1;
    return static_cast<int>(number_of(rest.substr(3)));
}

// The name with its directory made absolute and free of links (the last
// part is kept as it is); the name itself when its directory cannot be
// resolved.
std::string canonical_directory(const std::string& path) {
    char buf[PATH_MAX];
    if (!realpath(directory_of(path).c_str(), buf)) return path;
    std::string dir = buf;
    return (dir == "/" ? dir : dir + "/") + base_of(path);
}

// The mode a newly created file gets: 0666 less the process's umask.
mode_t new_file_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Writes in place (truncating): the way for targets that a rename must not
// replace.
WriteOutcome write_in_place(const std::string& path, const void* bytes, u64 count) {
    int fd = io_open_file(path.c_str(), IO_MODE_WRITE);
    if (fd < 0) return {WriteStatus::cannot_open, errno};
    if (io_write_data(fd, bytes, count) < 0) {
        int err = errno;
        io_close_file(fd);
        return {WriteStatus::write_failed, err};
    }
    if (close(fd) != 0) return {WriteStatus::write_failed, errno};
    return {WriteStatus::ok, 0};
}

// Writes to a descriptor the process holds, at its position, as printing
// does: what was written before and after stays.
WriteOutcome write_to_descriptor(int fd, const void* bytes, u64 count) {
    if (io_write_data(fd, bytes, count) < 0) return {WriteStatus::write_failed, errno};
    return {WriteStatus::ok, 0};
}

// Whether the user may create a file in the directory.
bool may_create_in(const std::string& dir) {
    return faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Whether an existing target may be replaced by a new file renamed over
// it: a regular file with one name, owned by the user, that the user may
// open for writing, in a directory where the user may create files.
// Anything else (a read-only file, someone else's file, one in a sticky or
// closed directory, a device, a pipe) is written in place, where open(2)
// decides, and keeps its inode, owner and links.
bool replaceable(const std::string& target, const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid() &&
           faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 &&
           may_create_in(directory_of(target));
}

// The pattern of the temporary file beside the target: a dot, the start of
// the target's name (cut so that a long name still leaves room), and the
// characters mkostemp fills in.
std::string temporary_pattern(const std::string& target) {
    std::string base = base_of(target);
    size_t keep = base.size() < 64 ? base.size() : 64;
    // Not in the middle of a UTF-8 sequence.
    while (keep > 0 && keep < base.size() && (static_cast<u8>(base[keep]) & 0xC0) == 0x80) keep--;
    return directory_of(target) + "/." + base.substr(0, keep) + ".XXXXXX";
}

// The descriptor of this process that a name reaches, itself or through
// links (/dev/stdout, /dev/fd/N, /proc/self/fd/N), or -1.
int own_descriptor(const std::string& name) {
    std::string path = name;
    for (int hops = 0; hops <= kMaxLinkHops; hops++) {
        int fd = descriptor_entry(canonical_directory(path));
        if (fd >= 0) return fcntl(fd, F_GETFD) >= 0 ? fd : -1;
        if (!next_link(path, &path)) return -1;
    }
    return -1;
}

}  // namespace

WriteOutcome io_replace_file(const char* name, const void* bytes, u64 count) {
    int own = own_descriptor(name);
    if (own >= 0) return write_to_descriptor(own, bytes, count);
    std::string target = final_target(name);
    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    if (exists && !replaceable(target, st)) return write_in_place(target, bytes, count);

    std::string temp = temporary_pattern(target);
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        // A directory that takes no new file may still hold a writable
        // target: it is written in place.
        if (exists && (err == EACCES || err == EPERM)) return write_in_place(target, bytes, count);
        return {WriteStatus::cannot_open, err};
    }
    auto fail = [&](int err) {
        io_close_file(fd);
        unlink(temp.c_str());
        return WriteOutcome{WriteStatus::write_failed, err};
    };
    // The replacement keeps the old file's permissions and group; a new
    // file gets the usual ones.
    if (exists) {
        if (fchmod(fd, st.st_mode & 07777) != 0) return fail(errno);
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
            // A group the user is not in: the user's own, without the
            // set-id bits.
            (void)fchmod(fd, st.st_mode & 0777);
        }
    } else if (fchmod(fd, new_file_mode()) != 0) {
        return fail(errno);
    }
    if (io_write_data(fd, bytes, count) < 0) return fail(errno);
    if (close(fd) != 0) {
        int err = errno;
        unlink(temp.c_str());
        return {WriteStatus::write_failed, err};
    }
    if (rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        unlink(temp.c_str());
        return {WriteStatus::write_failed, err};
    }
    return {WriteStatus::ok, 0};
}

WriteOutcome io_extend_file(const char* name, const void* bytes, u64 count, i64 seek,
                            bool append) {
    if (seek < 0) {
        int own = own_descriptor(name);
        if (own >= 0) return write_to_descriptor(own, bytes, count);
    }
    u32 mode = IO_MODE_WRITE | (append ? IO_MODE_APPEND : 0u) | (seek >= 0 ? IO_MODE_SEEK : 0u);
    int fd = io_open_file(name, mode);
    if (fd < 0) return {WriteStatus::cannot_open, errno};
    struct stat st;
    off_t old_size = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
    auto fail = [&](int err) {
        // What an append added before it failed is taken back.
        if (append && old_size >= 0) (void)ftruncate(fd, old_size);
        io_close_file(fd);
        return WriteOutcome{WriteStatus::write_failed, err};
    };
    if (seek > 0 && !io_seek(fd, seek)) return fail(errno);
    if (append && lseek(fd, 0, SEEK_END) < 0) return fail(errno);
    if (io_write_data(fd, bytes, count) < 0) return fail(errno);
    if (close(fd) != 0) return {WriteStatus::write_failed, errno};
    return {WriteStatus::ok, 0};
}

}  // namespace zan
