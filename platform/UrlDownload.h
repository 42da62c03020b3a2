#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zeza {

// Told, on the downloading thread, the bytes received so far and the size the
// server declared (0 when it declared none): as data arrives and about once a
// second while none does. Returning false aborts the download.
using DownloadProgress = std::function<bool(int64_t received, int64_t total)>;

// Fetches url with a plain HTTP GET into the file at path, overwriting it.
// Every call reaches the server (no cached answer is used), redirects are
// followed (at most 5), an HTTP status of 400 or more is a failure, and a
// server that stops sending aborts the transfer after a while. True when the
// whole body was saved; on false no file with partial content is left at path.
// progress, when given, is told how far the transfer got (see DownloadProgress).
bool DownloadUrlToFile(const std::string& url, const std::string& path,
                       const DownloadProgress& progress = {});

// While set, downloads in flight end at once and new ones fail: the program
// is closing and nothing may keep it waiting for the network.
void AbortDownloads(bool abort);

// Largest body accepted; a larger one fails the download.
inline constexpr int64_t kDownloadSizeLimit = 64LL * 1024 * 1024;

// Test hooks: a transfer slower than bytesPerSecond for seconds is aborted
// (built-in 100 bytes/s for 30 s); the size limit can be lowered to exercise
// the cap cheaply. Zero restores the built-in value.
void SetDownloadLowSpeedForTesting(long bytesPerSecond, long seconds);
void SetDownloadSizeLimitForTesting(int64_t bytes);

}  // namespace zeza
