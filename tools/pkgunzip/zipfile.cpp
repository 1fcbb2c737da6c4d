#include "tools/pkgunzip/zipfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>
#include "common/banned.h"

namespace pkgunzip {

namespace {

struct Source {
    int fd = -1;
    uint64_t base = 0;  // file offset of the archive's first byte
    uint64_t size = 0;
    uint64_t pos = 0;
    std::vector<unsigned char> window = std::vector<unsigned char>(kReadWindow);
    uint64_t windowAt = 0;  // file offset of window[0]
    size_t windowLength = 0;
};

// Reads at most n bytes at archive position pos into buf; fewer only at the end of the archive
// or on an error.
size_t readAt(const Source* s, unsigned char* buf, size_t n, uint64_t pos) {
    if (pos >= s->size) return 0;
    if (n > s->size - pos) n = static_cast<size_t>(s->size - pos);
    size_t got = 0;
    while (got < n) {
        ssize_t r = pread(s->fd, buf + got, n - got, static_cast<off_t>(s->base + pos + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

// minizip opens the archive through this: `opaque` is the Source prepared by openZipFile.
voidpf ZCALLBACK openFile(voidpf opaque, const void* /*filename*/, int /*mode*/) {
    Source* s = static_cast<Source*>(opaque);
    s->pos = 0;
    return s;
}

uLong ZCALLBACK readFile(voidpf, voidpf stream, void* buf, uLong size) {
    Source* s = static_cast<Source*>(stream);
    unsigned char* out = static_cast<unsigned char*>(buf);
    uLong done = 0;
    while (done < size && s->pos < s->size) {
        if (s->pos < s->windowAt || s->pos >= s->windowAt + s->windowLength) {
            // Large reads bypass the window; small ones refill it.
            if (size - done >= kReadWindow) {
                size_t got = readAt(s, out + done, size - done, s->pos);
                s->pos += got;
                done += static_cast<uLong>(got);
                break;
            }
            s->windowAt = s->pos;
            s->windowLength = readAt(s, s->window.data(), s->window.size(), s->pos);
            if (s->windowLength == 0) break;
        }
        size_t offset = static_cast<size_t>(s->pos - s->windowAt);
        size_t n = s->windowLength - offset;
        if (n > size - done) n = size - done;
        memcpy(out + done, s->window.data() + offset, n);
        done += static_cast<uLong>(n);
        s->pos += n;
    }
    return done;
}

uLong ZCALLBACK writeFile(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellFile(voidpf, voidpf stream) { return static_cast<Source*>(stream)->pos; }

long ZCALLBACK seekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    Source* s = static_cast<Source*>(stream);
    uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->pos; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->size; break;
    default: return -1;
    }
    // Past the end is allowed, as with a file: the next read returns nothing.
    if (offset > UINT64_MAX - base) return -1;
    s->pos = base + offset;
    return 0;
}

int ZCALLBACK closeFile(voidpf, voidpf stream) {
    Source* s = static_cast<Source*>(stream);
    close(s->fd);
    delete s;
    return 0;
}

int ZCALLBACK testError(voidpf, voidpf) { return 0; }

// Opens path and checks it is a regular file: the descriptor and its size, or -1 with *why set.
int openRegular(const char* path, uint64_t* size, std::string* why) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *why = strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = S_ISDIR(st.st_mode) ? "Is a directory" : "not a regular file";
        close(fd);
        return -1;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return fd;
}

unzFile openSource(const char* path, int fd, uint64_t offset, uint64_t length, std::string* why) {
    posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_SEQUENTIAL);
    Source* s = new Source;
    s->fd = fd;
    s->base = offset;
    s->size = length;

    zlib_filefunc64_def io;
    io.zopen64_file = openFile;
    io.zread_file = readFile;
    io.zwrite_file = writeFile;
    io.ztell64_file = tellFile;
    io.zseek64_file = seekFile;
    io.zclose_file = closeFile;
    io.zerror_file = testError;
    io.opaque = s;
    unzFile zip = unzOpen2_64(path, &io);
    // A failed open has already closed the stream, and with it the file.
    if (zip == nullptr) *why = "not a zip archive or cut short (no end of central directory)";
    return zip;
}

}  // namespace

unzFile openZipFile(const char* path, std::string* why) {
    uint64_t size = 0;
    int fd = openRegular(path, &size, why);
    return fd < 0 ? nullptr : openSource(path, fd, 0, size, why);
}

unzFile openZipSlice(const char* path, uint64_t offset, uint64_t length, std::string* why) {
    uint64_t size = 0;
    int fd = openRegular(path, &size, why);
    return fd < 0 ? nullptr : openSource(path, fd, offset, length, why);
}

int readCurrentEntry(unzFile zip, ZipEntryInfo* entry) {
    char name[kMaxEntryName + 1];
    int err = unzGetCurrentFileInfo64(zip, &entry->info, name, sizeof(name), nullptr, 0, nullptr, 0);
    if (err != UNZ_OK) return err;
    entry->name.assign(name, entry->info.size_filename < kMaxEntryName ? entry->info.size_filename : kMaxEntryName);
    return UNZ_OK;
}

ZipWalk walkZipEntries(unzFile zip, const std::function<bool(const ZipEntryInfo&)>& visit) {
    ZipEntryInfo entry;
    for (int at = unzGoToFirstFile(zip); at != UNZ_END_OF_LIST_OF_FILE; at = unzGoToNextFile(zip)) {
        if (at != UNZ_OK) return {ZipWalkEnd::MoveFailed, at};
        int err = readCurrentEntry(zip, &entry);
        if (err != UNZ_OK) return {ZipWalkEnd::EntryUnreadable, err};
        if (!visit(entry)) return {ZipWalkEnd::Stopped, UNZ_OK};
    }
    return {ZipWalkEnd::AllVisited, UNZ_OK};
}

}  // namespace pkgunzip
