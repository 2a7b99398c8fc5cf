#pragma once

// The browsers of the soak: each client thread sends a random mix of board,
// person-page, image, message and absence requests and records what the
// server answered.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>  // the clocks; <chrono> itself does not compile for CP932
#include <utility>
#include <vector>

struct TSoakPlan {
    std::uint16_t Port = 0;
    std::vector<std::string> ChurnPersons;    // may be missing at any moment
    std::vector<std::string> OtherPersons;    // always listed
    std::vector<std::string> MessageTargets;  // some of both kinds
    std::vector<std::string> Groups;          // group names as the person files hold them
    std::vector<std::string> Images;
    std::chrono::steady_clock::time_point Deadline;
    std::uint64_t MaxRequestsPerClient = 0;

    bool IsChurn(const std::string& person) const;
};

// One absence form as sent.
struct TAbsenceForm {
    std::string Kind;  // "datetime", "nolimit" or "reset"
    std::string Date;
    std::string Time;
    std::string Reason;
    int Icon = 0;
};

// The four values of the person file that the form decides, in file order
// (reason, return date, return time, status mark), as the server must have
// written them. captions: the status-mark captions from mark 0 on.
std::vector<std::string> ExpectedAbsenceValues(const TAbsenceForm& form, const std::vector<std::string>& captions);

struct TSentMessage {
    std::string Person;
    std::string Token;
};

struct TClientRecord {
    std::map<std::string, std::uint64_t> Requests;  // by kind
    std::uint64_t Sent = 0;                         // requests, every kind
    std::uint64_t UnknownUserAnswers = 0;           // 500s for persons that may be missing
    std::vector<TSentMessage> Acknowledged;
    std::vector<TSentMessage> Refused;           // answered 500: the person was not listed
    std::vector<TSentMessage> Uncertain;         // no answer to tell
    std::optional<TAbsenceForm> LastOwnAbsence;  // the last one acknowledged
    std::uint64_t FaultCount = 0;
    std::vector<std::string> Faults;  // the first few, for the report
};

// Runs one client until the plan's deadline or request bound. ownPerson is
// the person whose absence only this client sets, so that the last
// acknowledged form must be what its file holds at the end.
void RunSoakClient(const TSoakPlan& plan, int index, const std::string& ownPerson, TClientRecord& record);
