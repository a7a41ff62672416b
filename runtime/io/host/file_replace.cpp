// Whole-file writes that never leave a half-written file: the new content
// goes to a file beside the target, which is renamed over the target only
// once every byte is written and the file closed without error.
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

// Where a chain of symbolic links ends: writing through a link replaces
// the file it leads to and keeps the link. A name that is no link (or
// whose chain cannot be followed) stays as it is.
std::string final_target(const std::string& name) {
    std::string path = name;
    for (int hops = 0; hops < 40; hops++) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char buf[PATH_MAX];
        ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
        if (n <= 0) return path;
        std::string link(buf, static_cast<size_t>(n));
        if (link[0] != '/') {
            size_t slash = path.rfind('/');
            link = slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
        }
        path = link;
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

}  // namespace

WriteOutcome io_replace_file(const char* name, const void* bytes, u64 count) {
    std::string target = final_target(name);
    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    // Devices, pipes and the like are written to, never replaced; so is a
    // file with several names, which a rename would split from the others.
    if (exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1))
        return write_in_place(target, bytes, count);

    std::string dir = directory_of(target);
    std::string temp = dir + "/." + base_of(target) + ".XXXXXX";
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
    // The replacement keeps the old file's permissions and, where allowed,
    // its owner; a new file gets the usual ones.
    if (exists) {
        if (fchmod(fd, st.st_mode & 07777) != 0) return fail(errno);
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not permitted for others' files: the writer's own group and
            // owner stay, without the set-id bits.
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
