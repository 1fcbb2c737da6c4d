// Upload of a file to the support FTP service, with libcurl loaded at run time.
#pragma once

#include <cstddef>

// Remote folder the upload goes to, below the server's root.
constexpr char c_ftpUploadDir[] = "tarnel/tozav/wendor/fdr_upload/";

// Uploads path to the support service (host fixed at build time, PKGSTUB_FTP_HOST) as
// c_ftpUploadDir + the file's own name. 0 on success; -1 after a message on stderr.
int ftpFile(const char* path);

// The same against host and port (0: the FTP default port).
int ftpFileTo(const char* path, const char* host, int port);

// Loads libcurl: "libcurl.so", else "libcurl.so.4" (systems without development files have
// only the versioned name). The handle (release with dlclose), or null with the loader's text
// in err.
void* loadCurlLibrary(char* err, size_t errSize);
