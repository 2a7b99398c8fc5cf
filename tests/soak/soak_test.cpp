// The server under mixed traffic from many clients for SOAK_SECONDS (60 when
// unset) while the person files are rescanned on every request and a writer
// churns the shared directory: no 5xx but the unknown-user ones, no crash, no
// message lost or doubled, no person file ever seen short.

#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/server_harness.h"
#include "tests/soak/office_tuning.h"
#include "tests/soak/soak_churn.h"
#include "tests/soak/soak_traffic.h"

namespace {

constexpr int ClientCount = 8;
constexpr std::uint64_t MaxRequestsPerClient = 400000;
const std::string UnknownUserText = "存在しないユーザ情報を要求されました。";
const std::string MessageHeaderMark = "(伝言)    送信日時:";

int SoakSeconds() {
    const char* text = std::getenv("SOAK_SECONDS");
    const int seconds = text ? std::atoi(text) : 60;
    return seconds < 1 ? 1 : seconds > 3600 ? 3600 : seconds;
}

std::vector<TChurnPerson> ChurnPersons() {
    std::vector<TChurnPerson> persons;
    const char* groups[] = {"開発部", "営業部"};
    for (int i = 1; i <= 4; ++i)
        persons.push_back({"churn" + std::to_string(i), "ﾁｬｰﾝ" + std::to_string(i), "揺動 " + std::to_string(i),
                           groups[i % 2], "127.0.0." + std::to_string(100 + i)});
    return persons;
}

template <typename T>
void ReportFaults(const char* who, std::uint64_t count, const std::vector<T>& faults) {
    EXPECT_EQ(count, 0u) << who << " saw faults";
    for (const auto& f : faults) ADD_FAILURE() << who << ": " << f;
}

TEST(Soak, MixedTrafficWhileTheSharedDirectoryChurns) {
    const int seconds = SoakSeconds();
    TServerFiles files;
    TUdpSink clients;
    // Every request rescans; the datagrams come to this test.
    SetKavelIniLine(files, "QUOR_Interval", "QUOR_Interval,ReloadAllFile=0");
    SetKavelIniLine(files, "UDPMessage", "UDPMessage,Port=" + std::to_string(clients.Port()));
    const std::string office = files.Office();
    const std::vector<TChurnPerson> churn = ChurnPersons();
    for (const TChurnPerson& p : churn) ReplaceBytes(office + p.Key + ".kvl", ChurnPersonText(p, 0));

    // Each client owns one person's absence; the rest are only read.
    const std::vector<std::string> owned = {"aoki", "itou", "katou", "kimura", "gotou", "satou", "suzuki", "tanaka"};
    ASSERT_EQ(owned.size(), static_cast<size_t>(ClientCount));
    TSoakPlan plan;
    plan.Port = files.Port();
    for (const TChurnPerson& p : churn) plan.ChurnPersons.push_back(p.Key);
    plan.OtherPersons = {"yamada", "mori", "tsuji", "matsumoto", "endou", "miyazaki"};
    plan.OtherPersons.insert(plan.OtherPersons.end(), owned.begin(), owned.end());
    plan.MessageTargets = {"yamada", "mori", "churn1"};
    plan.Groups = {"営業部", "開発部", "総務部", "経理部", "無い部"};
    plan.Images = {"bg.jpg", "poweron.jpg", "poweroff.jpg", "huzaired.jpg", "huzaiyellow.jpg", "unknown.jpg",
                   "0y.jpg", "0r.jpg",      "1y.jpg",       "1r.jpg",       "btnmenuhuzai.jpg"};
    plan.MaxRequestsPerClient = MaxRequestsPerClient;

    std::map<std::string, std::string> messagesBefore;
    for (const std::string& key : plan.MessageTargets)
        messagesBefore[key] = ReadBytes(office + key + ".mil").value_or("");

    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady()) << server.EventText();
    plan.Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);

    std::vector<TClientRecord> records(ClientCount);
    TChurnRecord writer, checker;
    std::vector<std::thread> threads;
    for (int i = 0; i < ClientCount; ++i)
        threads.emplace_back(
            [&, i] { RunSoakClient(plan, i, owned[static_cast<size_t>(i)], records[static_cast<size_t>(i)]); });
    const std::vector<std::string> markers = {"churn1", "churn2", "yamada", "tsuji", "matsumoto", "aoki"};
    threads.emplace_back([&] { RunChurnWriter(office, churn, markers, plan.Deadline, writer); });
    threads.emplace_back(
        [&] { RunFileChecker(office, plan.OtherPersons, plan.MessageTargets, plan.Deadline, checker); });
    for (std::thread& t : threads) t.join();

    // Still up and serving after it all.
    const THttpAnswer board = HttpGet(files.Port(), "/keiziban");
    EXPECT_EQ(board.Status, 200);

    std::uint64_t sent = 1, unknownUser = 0, faults = 0;
    std::map<std::string, std::uint64_t> byKind;
    for (const TClientRecord& r : records) {
        sent += r.Sent;
        unknownUser += r.UnknownUserAnswers;
        faults += r.FaultCount;
        for (const auto& [kind, n] : r.Requests) byKind[kind] += n;
        ReportFaults("client", r.FaultCount, r.Faults);
    }
    ReportFaults("writer", writer.FaultCount, writer.Faults);
    ReportFaults("file checker", checker.FaultCount, checker.Faults);
    std::cout << "soak: " << seconds << " s, " << sent << " requests (";
    for (const auto& [kind, n] : byKind) std::cout << kind << " " << n << ", ";
    std::cout << unknownUser << " unknown-user answers); writer " << writer.Rewrites << " rewrites, " << writer.Deletes
              << " deletes, " << writer.MarkerFlips << " marker flips; checker " << checker.PersonReads
              << " person-file and " << checker.MessageReads << " message-file reads; " << clients.Received()
              << " datagrams" << std::endl;
    for (const char* kind : {"board", "person", "image", "message", "absence"}) EXPECT_GT(byKind[kind], 0u) << kind;
    EXPECT_GT(writer.Deletes, 0u);

    // Every acknowledged message is in its file exactly once, a refused one
    // not at all, and nothing else was added.
    for (const std::string& key : plan.MessageTargets) {
        const std::string content = ReadBytes(office + key + ".mil").value_or("");
        size_t expected = CountOf(messagesBefore[key], MessageHeaderMark);
        for (const TClientRecord& r : records) {
            for (const TSentMessage& m : r.Acknowledged) {
                if (m.Person != key) continue;
                ++expected;
                EXPECT_EQ(CountOf(content, m.Token), 1u) << m.Token << " in " << key << ".mil";
            }
            for (const TSentMessage& m : r.Refused) {
                if (m.Person != key) continue;
                EXPECT_EQ(CountOf(content, m.Token), 0u) << m.Token << " in " << key << ".mil";
            }
            // No readable answer: stored once or not at all, never twice.
            for (const TSentMessage& m : r.Uncertain) {
                if (m.Person != key) continue;
                const size_t found = CountOf(content, m.Token);
                EXPECT_LE(found, 1u) << m.Token << " in " << key << ".mil";
                expected += found;
            }
        }
        EXPECT_EQ(CountOf(content, MessageHeaderMark), expected) << key << ".mil";
        EXPECT_EQ(content.substr(content.size() - messagesBefore[key].size()), messagesBefore[key])
            << "older messages of " << key << " changed";
    }

    // Each owned person's file holds the last absence acknowledged for it.
    const std::vector<std::string> captions = {"不在", "外出", "会議"};
    for (size_t i = 0; i < owned.size(); ++i) {
        const std::optional<TAbsenceForm>& last = records[i].LastOwnAbsence;
        if (!last) continue;
        const std::vector<std::string> lines = CrLfLines(ReadBytes(office + owned[i] + ".kvl").value_or(""));
        ASSERT_GE(lines.size(), 10u) << owned[i];
        const std::vector<std::string> values = ExpectedAbsenceValues(*last, captions);
        EXPECT_EQ(lines[4], "\"" + values[0] + "\"") << owned[i] << " reason";
        EXPECT_EQ(lines[5], "\"" + values[1] + "\"") << owned[i] << " return date";
        EXPECT_EQ(lines[6], "\"" + values[2] + "\"") << owned[i] << " return time";
        EXPECT_EQ(lines[9], "\"" + values[3] + "\"") << owned[i] << " status mark";
    }

    // The only errors logged are the unknown users, one per 500 answered, and
    // every request left its line.
    const std::vector<TLogRecord> errors = ErrorRecords(files);
    for (const TLogRecord& e : errors)
        if (e.Text.find(UnknownUserText) == std::string::npos) ADD_FAILURE() << "logged: " << e.Text;
    if (faults == 0) {
        EXPECT_EQ(errors.size(), unknownUser);
        std::uint64_t requestLines = 0;
        for (const TLogRecord& r : files.LogRecords()) requestLines += r.Text.rfind("127.0.0.1 /", 0) == 0;
        EXPECT_EQ(requestLines, sent + errors.size());
    }

    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(), std::optional<int>(0));
    const std::string events = server.EventText();
    EXPECT_EQ(events.find("Sanitizer"), std::string::npos) << events.substr(0, 4000);
    EXPECT_EQ(events.find("runtime error:"), std::string::npos) << events.substr(0, 4000);
}

}  // namespace
