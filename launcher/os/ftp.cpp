#include "launcher/os/ftp.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/os/platform.h"
#include "common/banned.h"

#ifndef PKGSTUB_FTP_HOST
#define PKGSTUB_FTP_HOST "ftp.example.invalid"
#endif

namespace {

// The few libcurl values used; the library is not linked, so its headers are not needed.
const long kCurlGlobalAll = 3;
const int kOptErrorBuffer = 10010;
const int kOptUpload = 46;
const int kOptUrl = 10002;
const int kOptReadData = 10009;
const int kCurlCouldNotResolveHost = 6;
const int kCurlCouldNotConnect = 7;
const size_t kCurlErrorSize = 256;

typedef int (*GlobalInitFn)(long);
typedef void* (*EasyInitFn)();
typedef int (*EasySetoptFn)(void*, int, ...);
typedef int (*EasyPerformFn)(void*);
typedef void (*EasyCleanupFn)(void*);
typedef void (*GlobalCleanupFn)();

// dlsym, and -1 when the loader reports an error for it.
int resolve(void* lib, const char* name, void** fn) {
    dlerror();
    *fn = dlsym(lib, name);
    const char* err = dlerror();
    if (err != nullptr) {
        fprintf(stderr, "FTP: Error loading curl library: %s\n", err);
        return -1;
    }
    return 0;
}

}  // namespace

void* loadCurlLibrary(char* err, size_t errSize) {
    const char* const names[] = {"libcurl.so", "libcurl.so.4"};
    for (const char* name : names) {
        void* lib = dlopen(name, RTLD_LAZY);
        if (lib != nullptr) return lib;
        const char* why = dlerror();
        snprintf(err, errSize, "%s", why ? why : name);
    }
    return nullptr;
}

int ftpFile(const char* path) { return ftpFileTo(path, PKGSTUB_FTP_HOST, 0); }

int ftpFileTo(const char* path, const char* host, int port) {
    fflush(stdout);  // its messages go to standard error, after what was printed before
    const char* name = strrchr(path, FILE_SEPARATOR);
    name = name ? name + 1 : path;

    char portText[16] = "";
    if (port > 0) snprintf(portText, sizeof(portText), ":%d", port);
    size_t urlSize = strlen("ftp://") + strlen(host) + strlen(portText) + 1 + strlen(c_ftpUploadDir) + strlen(name) + 1;
    char* url = static_cast<char*>(malloc(urlSize));
    if (url == nullptr) return -1;
    snprintf(url, urlSize, "ftp://%s%s/%s%s", host, portText, c_ftpUploadDir, name);

    char loadErr[512] = "";
    void* lib = loadCurlLibrary(loadErr, sizeof(loadErr));
    if (lib == nullptr) {
        fprintf(stderr, "FTP: Error opening curl library: %s", loadErr);
        free(url);
        return -1;
    }

    void* fns[6];
    const char* const names[6] = {"curl_global_init",  "curl_easy_init",    "curl_easy_setopt",
                                  "curl_easy_perform", "curl_easy_cleanup", "curl_global_cleanup"};
    for (int i = 0; i < 6; ++i) {
        if (resolve(lib, names[i], &fns[i]) != 0) {
            dlclose(lib);
            free(url);
            return -1;
        }
    }
    GlobalInitFn globalInit = reinterpret_cast<GlobalInitFn>(fns[0]);
    EasyInitFn easyInit = reinterpret_cast<EasyInitFn>(fns[1]);
    EasySetoptFn easySetopt = reinterpret_cast<EasySetoptFn>(fns[2]);
    EasyPerformFn easyPerform = reinterpret_cast<EasyPerformFn>(fns[3]);
    EasyCleanupFn easyCleanup = reinterpret_cast<EasyCleanupFn>(fns[4]);
    GlobalCleanupFn globalCleanup = reinterpret_cast<GlobalCleanupFn>(fns[5]);

    int result = -1;
    FILE* stream = nullptr;
    void* curl = nullptr;
    bool globalDone = false;
    char curlErr[kCurlErrorSize] = "";
    struct stat st;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        fputs("FTP: Error getting file size\n", stderr);
        goto done;
    }
    stream = fdopen(fd, "rb");
    if (stream == nullptr) {
        fputs("FTP: Error creating file stream\n", stderr);
        goto done;
    }
    fd = -1;  // owned by the stream now

    globalInit(kCurlGlobalAll);
    globalDone = true;
    curl = easyInit();
    if (curl == nullptr) {
        fputs("FTP: Error initalizing curl\n", stderr);
        goto done;
    }
    if (easySetopt(curl, kOptErrorBuffer, curlErr) != 0) {
        fputs("FTP: Error configuring curl error buffer\n", stderr);
        goto done;
    }
    if (easySetopt(curl, kOptUpload, 1L) != 0) {
        fputs("FTP: Error setting curl upload\n", stderr);
        goto done;
    }
    if (easySetopt(curl, kOptUrl, url) != 0) {
        fputs("FTP: Error setting curl target\n", stderr);
        goto done;
    }
    if (easySetopt(curl, kOptReadData, stream) != 0) {
        fputs("FTP: Error setting curl upload file\n", stderr);
        goto done;
    }
    {
        int code = easyPerform(curl);
        if (code == kCurlCouldNotResolveHost || code == kCurlCouldNotConnect)
            fputs("FTP: Error connecting to ZAV Service", stderr);
        else if (code != 0)
            fprintf(stderr, "FTP: Error performing upload command: %s", curlErr);
        else
            result = 0;
    }

done:
    if (curl != nullptr) easyCleanup(curl);
    if (globalDone) globalCleanup();
    if (stream != nullptr) fclose(stream);
    if (fd >= 0) close(fd);
    dlclose(lib);
    free(url);
    return result;
}
