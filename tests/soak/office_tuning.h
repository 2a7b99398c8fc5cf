#pragma once

// What the soak and fault tests add to the server harness: settings of the
// copied office, request texts, raw file access and a sink for datagrams.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/server_harness.h"

// Replaces the line of the office's kavel.ini that begins with leadingWord
// (appends line when there is none). Takes effect at the next server start.
void SetKavelIniLine(const TServerFiles& files, const std::string& leadingWord, const std::string& line);

// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX, as a browser sends form fields.
std::string PercentEncode(const std::string& bytes);

// Whole content; nullopt when the file cannot be opened or read.
std::optional<std::string> ReadBytes(const std::string& path);
// Replaces the content the way a careful client does: a temporary file beside
// it, renamed over. Throws on failure.
void ReplaceBytes(const std::string& path, const std::string& bytes);

// Lines ended by CR LF; a last piece without CR LF counts as a line too.
std::vector<std::string> CrLfLines(const std::string& bytes);
// A person file as the clients write it: each value quoted, CR LF after each.
std::string PersonFileText(const std::vector<std::string>& values);
// Whether bytes are a whole person file: at least ten lines, all ended by
// CR LF, the first opening a quoted value.
bool IsWholePersonFile(const std::string& bytes);

size_t CountOf(const std::string& haystack, const std::string& needle);

// QUOR.LOG records of level error.
std::vector<TLogRecord> ErrorRecords(const TServerFiles& files);

// Receives and drops the datagrams the server sends to the clients, so that
// they go to a port of this test and nowhere else.
class TUdpSink {
public:
    TUdpSink();
    ~TUdpSink();
    TUdpSink(const TUdpSink&) = delete;
    TUdpSink& operator=(const TUdpSink&) = delete;

    std::uint16_t Port() const { return Port_; }
    std::uint64_t Received() const { return Received_.load(); }

private:
    int Fd_ = -1;
    std::uint16_t Port_ = 0;
    std::atomic<bool> Stop_{false};
    std::atomic<std::uint64_t> Received_{0};
    std::thread Reader_;
};
