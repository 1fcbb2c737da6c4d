#include "tools/mkpkg/zipreader.h"

#include <algorithm>

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include <minizip/unzip.h>

#include "tools/mkpkg/errors.h"
#include "tools/pkgunzip/zipfile.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

std::string verifyCurrent(unzFile uf, const std::string& name, std::string* head) {
    if (unzOpenCurrentFile(uf) != UNZ_OK) return "entry " + quote(name) + " cannot be opened";
    std::vector<char> buf(1 << 16);
    int got;
    while ((got = unzReadCurrentFile(uf, buf.data(), static_cast<unsigned>(buf.size()))) > 0) {
        if (head->size() < kEntryHeadSize)
            head->append(buf.data(), std::min(static_cast<size_t>(got), kEntryHeadSize - head->size()));
    }
    int closeErr = unzCloseCurrentFile(uf);
    if (got < 0) return "entry " + quote(name) + " does not decompress (minizip error " + std::to_string(got) + ")";
    if (closeErr == UNZ_CRCERROR) return "entry " + quote(name) + " fails its CRC check";
    if (closeErr != UNZ_OK)
        return "entry " + quote(name) + " cannot be read (minizip error " + std::to_string(closeErr) + ")";
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

ZipListing listZip(const std::string& path, uint64_t offset, uint64_t length, bool verify, const std::string& label) {
    std::string why;
    unzFile uf = pkgunzip::openZipSlice(path.c_str(), offset, length, &why);
    if (!uf) throw Error(label + " is not a readable zip archive; rebuild it (e.g. with mkpkg build --content DIR)");

    ZipListing listing;
    pkgunzip::ZipWalk walk = pkgunzip::walkZipEntries(uf, [&](const pkgunzip::ZipEntryInfo& current) {
        const unz_file_info64& fi = current.info;
        ZipEntry e;
        e.name = current.name.c_str();  // shown up to a NUL byte, as stored names are C strings
        e.size = fi.uncompressed_size;
        e.compressedSize = fi.compressed_size;
        e.crc = static_cast<uint32_t>(fi.crc);
        if ((fi.version >> 8) == 3) e.unixMode = static_cast<uint32_t>(fi.external_fa >> 16);
        e.isDir = !e.name.empty() && e.name.back() == '/';
        // The reader keeps at most kMaxEntryName bytes of a name: say so rather than list it cut.
        if (fi.size_filename > pkgunzip::kMaxEntryName && listing.problem.empty())
            listing.problem = "entry " + quote(e.name.substr(0, 40) + "...") + " has a name of " +
                              std::to_string(fi.size_filename) + " bytes, more than " +
                              std::to_string(pkgunzip::kMaxEntryName) + ", which the unzip utility refuses";
        if (verify && !e.isDir && listing.problem.empty()) listing.problem = verifyCurrent(uf, e.name, &e.head);
        listing.entries.push_back(e);
        return true;
    });
    if (walk.end == pkgunzip::ZipWalkEnd::EntryUnreadable)
        listing.problem = "the central directory cannot be read";
    else if (walk.end == pkgunzip::ZipWalkEnd::MoveFailed && listing.problem.empty())
        listing.problem = "the central directory cannot be read (minizip error " + std::to_string(walk.error) + ")";
    unzClose(uf);
    return listing;
}

ZipListing listZipFile(const std::string& path, bool verify) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) throw Error(systemError("open image", path, errno));
    if (!S_ISREG(st.st_mode))
        throw Error("image " + quote(path) + " is not a regular file; pass a zip file to --image");
    return listZip(path, 0, static_cast<uint64_t>(st.st_size), verify, "image " + quote(path));
}

bool zipHasFile(const std::vector<ZipEntry>& entries, const std::string& name) {
    std::string want = normalize(name);
    for (const ZipEntry& e : entries)
        if (!e.isDir && normalize(e.name) == want) return true;
    return false;
}

}  // namespace mkpkg
