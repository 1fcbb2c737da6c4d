#include "zipreader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include <minizip/unzip.h>

#include "errors.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

// minizip file functions over one slice of a file, so the image is read in place.
struct Slice {
    uint64_t offset;
    uint64_t length;
};

struct SliceStream {
    FILE* f;
    uint64_t offset;
    uint64_t length;
    uint64_t pos;
    int error;
};

voidpf sliceOpen(voidpf opaque, const void* filename, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    FILE* f = std::fopen(static_cast<const char*>(filename), "rb");
    if (!f) return nullptr;
    const Slice* s = static_cast<const Slice*>(opaque);
    return new SliceStream{f, s->offset, s->length, 0, 0};
}

uLong sliceRead(voidpf, voidpf stream, void* buf, uLong size) {
    SliceStream* s = static_cast<SliceStream*>(stream);
    if (s->pos >= s->length) return 0;
    uint64_t n = std::min<uint64_t>(size, s->length - s->pos);
    if (fseeko(s->f, static_cast<off_t>(s->offset + s->pos), SEEK_SET) != 0) {
        s->error = 1;
        return 0;
    }
    size_t got = std::fread(buf, 1, static_cast<size_t>(n), s->f);
    if (got < n && std::ferror(s->f)) s->error = 1;
    s->pos += got;
    return static_cast<uLong>(got);
}

uLong sliceWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T sliceTell(voidpf, voidpf stream) { return static_cast<SliceStream*>(stream)->pos; }

long sliceSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    SliceStream* s = static_cast<SliceStream*>(stream);
    uint64_t base;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->pos; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->length; break;
    default: return -1;
    }
    // minizip passes negative moves as wrapped unsigned values
    uint64_t target = base + offset;
    if (target > s->length) return -1;
    s->pos = target;
    return 0;
}

int sliceClose(voidpf, voidpf stream) {
    SliceStream* s = static_cast<SliceStream*>(stream);
    int r = std::fclose(s->f);
    delete s;
    return r;
}

int sliceError(voidpf, voidpf stream) { return static_cast<SliceStream*>(stream)->error; }

std::string verifyCurrent(unzFile uf, const std::string& name) {
    if (unzOpenCurrentFile(uf) != UNZ_OK) return "entry " + quote(name) + " cannot be opened";
    std::vector<char> buf(1 << 16);
    int got;
    while ((got = unzReadCurrentFile(uf, buf.data(), static_cast<unsigned>(buf.size()))) > 0) {
    }
    int closeErr = unzCloseCurrentFile(uf);
    if (got < 0) return "entry " + quote(name) + " does not decompress (minizip error " + std::to_string(got) + ")";
    if (closeErr == UNZ_CRCERROR) return "entry " + quote(name) + " fails its CRC check";
    if (closeErr != UNZ_OK) return "entry " + quote(name) + " cannot be read (minizip error " + std::to_string(closeErr) + ")";
    return "";
}

std::string normalize(const std::string& name) {
    std::string out;
    size_t i = 0;
    while (name.compare(i, 2, "./") == 0) {
        i += 2;
        while (i < name.size() && name[i] == '/') ++i;
    }
    for (; i < name.size(); ++i) {
        if (name[i] == '/' && !out.empty() && out.back() == '/') continue;
        out += name[i];
    }
    return out;
}

}  // namespace

ZipListing listZip(const std::string& path, uint64_t offset, uint64_t length, bool verify,
                   const std::string& label) {
    Slice slice{offset, length};
    zlib_filefunc64_def funcs{};
    funcs.zopen64_file = sliceOpen;
    funcs.zread_file = sliceRead;
    funcs.zwrite_file = sliceWrite;
    funcs.ztell64_file = sliceTell;
    funcs.zseek64_file = sliceSeek;
    funcs.zclose_file = sliceClose;
    funcs.zerror_file = sliceError;
    funcs.opaque = &slice;

    unzFile uf = unzOpen2_64(path.c_str(), &funcs);
    if (!uf) throw Error(label + " is not a readable zip archive; rebuild it (e.g. with mkpkg build --content DIR)");

    ZipListing listing;
    int err = unzGoToFirstFile(uf);
    while (err == UNZ_OK) {
        unz_file_info64 fi;
        char name[4096];
        if (unzGetCurrentFileInfo64(uf, &fi, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK) {
            listing.problem = "the central directory cannot be read";
            break;
        }
        ZipEntry e;
        e.name = name;
        e.size = fi.uncompressed_size;
        e.compressedSize = fi.compressed_size;
        e.crc = static_cast<uint32_t>(fi.crc);
        if ((fi.version >> 8) == 3) e.unixMode = static_cast<uint32_t>(fi.external_fa >> 16);
        e.isDir = !e.name.empty() && e.name.back() == '/';
        if (verify && !e.isDir && listing.problem.empty()) listing.problem = verifyCurrent(uf, e.name);
        listing.entries.push_back(e);
        err = unzGoToNextFile(uf);
    }
    if (err != UNZ_OK && err != UNZ_END_OF_LIST_OF_FILE && listing.problem.empty())
        listing.problem = "the central directory cannot be read (minizip error " + std::to_string(err) + ")";
    unzClose(uf);
    return listing;
}

ZipListing listZipFile(const std::string& path, bool verify) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) throw Error(systemError("open image", path, errno));
    if (!S_ISREG(st.st_mode)) throw Error("image " + quote(path) + " is not a regular file; pass a zip file to --image");
    return listZip(path, 0, static_cast<uint64_t>(st.st_size), verify, "image " + quote(path));
}

bool zipHasFile(const std::vector<ZipEntry>& entries, const std::string& name) {
    std::string want = normalize(name);
    for (const ZipEntry& e : entries)
        if (!e.isDir && normalize(e.name) == want) return true;
    return false;
}

}  // namespace mkpkg
