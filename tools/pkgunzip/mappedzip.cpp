#include "mappedzip.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace pkgunzip {

namespace {

struct Mapping {
    const unsigned char* data = nullptr;
    uint64_t size = 0;
    uint64_t pos = 0;
    int error = 0;  // errno of the open, for the caller's message
};

// minizip opens the archive through this: `opaque` is the Mapping prepared by openMappedZip.
voidpf ZCALLBACK openFile(voidpf opaque, const void* /*filename*/, int /*mode*/) {
    Mapping* m = static_cast<Mapping*>(opaque);
    m->pos = 0;
    return m;
}

uLong ZCALLBACK readFile(voidpf, voidpf stream, void* buf, uLong size) {
    Mapping* m = static_cast<Mapping*>(stream);
    uint64_t left = m->pos < m->size ? m->size - m->pos : 0;
    uLong n = size < left ? size : static_cast<uLong>(left);
    if (n > 0) memcpy(buf, m->data + m->pos, n);
    m->pos += n;
    return n;
}

uLong ZCALLBACK writeFile(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellFile(voidpf, voidpf stream) { return static_cast<Mapping*>(stream)->pos; }

long ZCALLBACK seekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    Mapping* m = static_cast<Mapping*>(stream);
    uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = m->pos; break;
        case ZLIB_FILEFUNC_SEEK_END: base = m->size; break;
        default: return -1;
    }
    // Past the end is allowed, as with a file: the next read returns nothing.
    if (offset > UINT64_MAX - base) return -1;
    m->pos = base + offset;
    return 0;
}

int ZCALLBACK closeFile(voidpf, voidpf stream) {
    Mapping* m = static_cast<Mapping*>(stream);
    if (m->size > 0) munmap(const_cast<unsigned char*>(m->data), m->size);
    delete m;
    return 0;
}

int ZCALLBACK testError(voidpf, voidpf) { return 0; }

}  // namespace

unzFile openMappedZip(const char* path, std::string* why) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = S_ISDIR(st.st_mode) ? "Is a directory" : "not a regular file";
        close(fd);
        return nullptr;
    }
    Mapping* m = new Mapping;
    m->size = static_cast<uint64_t>(st.st_size);
    if (m->size > 0 && static_cast<uint64_t>(static_cast<size_t>(m->size)) != m->size) {
        *why = "too large to map on this system";
        close(fd);
        delete m;
        return nullptr;
    }
    if (m->size > 0) {
        void* p = mmap(nullptr, static_cast<size_t>(m->size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            *why = strerror(errno);
            close(fd);
            delete m;
            return nullptr;
        }
        m->data = static_cast<const unsigned char*>(p);
        madvise(p, static_cast<size_t>(m->size), MADV_SEQUENTIAL);
    }
    close(fd);

    zlib_filefunc64_def io;
    io.zopen64_file = openFile;
    io.zread_file = readFile;
    io.zwrite_file = writeFile;
    io.ztell64_file = tellFile;
    io.zseek64_file = seekFile;
    io.zclose_file = closeFile;
    io.zerror_file = testError;
    io.opaque = m;
    unzFile zip = unzOpen2_64(path, &io);
    // A failed open has already closed the stream, and with it the mapping.
    if (zip == nullptr) *why = "not a zip archive or cut short (no end of central directory)";
    return zip;
}

}  // namespace pkgunzip
