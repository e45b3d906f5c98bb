// A stand-in for the download library that records every call instead of downloading.
// Built as its own libnimbrel.so (same class, same exports, same soname) in a directory that
// the control tests' run path searches first.
#pragma once

#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#define RECORDING_API __attribute__((visibility("default")))
#elif defined(NIMBREL_BUILDING_DLL)
#define RECORDING_API __declspec(dllexport)
#else
#define RECORDING_API __declspec(dllimport)
#endif

struct DownloadCall {
    std::string operation;  // "StartDownload", "VazirOridoStartGFU" or "VazirOridoStartN"
    std::string userId, serverAddress, storeRoot;
    int imageType = 0;
    int faceMode = 0;
    std::string url, localPath;  // VazirOridoStartN only
};

// The calls recorded since the last take, in order; the record is emptied.
RECORDING_API std::vector<DownloadCall> TakeDownloadCalls();

// Runs on the calling thread inside each recorded call, after it is recorded (for example to
// drop a picture into the store as a download would). Pass an empty function to remove it.
RECORDING_API void SetDownloadAction(std::function<void(const DownloadCall&)> action);
