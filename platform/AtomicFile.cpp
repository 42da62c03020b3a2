#include "platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zeza {
namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

}  // namespace

std::string ResolveFileLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
        if (n < 0) return current;
        target[n] = '\0';
        if (target[0] == '/') {
            current = target;
        } else {
            // A relative target is relative to the folder that holds the link.
            const size_t slash = current.rfind('/');
            current = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + target;
        }
    }
    return std::string();
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
    // Replacing a link would leave its target stale; the new file is made
    // beside the target instead, so the rename stays within one folder.
    const std::string target = ResolveFileLinks(path);
    if (target.empty()) return false;

    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    std::string tmp = target + ".tmp" + std::to_string(static_cast<long>(getpid()));
    ::unlink(tmp.c_str());  // what an earlier crash of a process with this id left
    // Private while it is written; the final mode is set before the rename.
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? 0600 : 0666);
    if (fd < 0) return false;
    const char* p = bytes.data();
    size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (ok && existed) {
        // The old file's owner and group where we may set them (root may), and
        // its permission bits, so a private file never becomes readable by others.
        mode_t mode = old.st_mode & 0777;
        if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
            ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Not ours to give away; checked below.
        }
        struct stat now {};
        if (::fstat(fd, &now) != 0 || now.st_gid != old.st_gid) {
            // Another group now: it gets no more than everyone had.
            mode = (mode & 0707) | (mode & ((mode & 07) << 3));
        }
        if (::fchmod(fd, mode) != 0) ok = false;
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && std::rename(tmp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

}  // namespace zeza
