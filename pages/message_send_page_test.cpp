#include "pages/message_send_page.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <thread>

#include "data/kavel_person.h"
#include "data/persons_list.h"
#include "data/store_gate.h"
#include "log/event_log.h"
#include "pages/message_check_page.h"
#include "pages/page_test_clients.h"
#include "pages/page_test_office.h"
#include "platform/event_sink.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "protocol/kavel_protocol.h"

namespace {

TIdHTTPRequestInfo SendRequest(const std::string& user, const std::string& sender, const std::string& message) {
    return TPageTestOffice::Request("/udengonsendresult?user=" + FormEncode(user) + "&sender=" + FormEncode(sender) +
                                    "&dengonmessage=" + FormEncode(message));
}

const std::string SentPage =
    "<HTML>\r\n"
    "  <BODY onLoad=\"JavaScript:alert('送信しました！');JavaScript:parent.close();\">\r\n"
    "  </BODY>\r\n"
    "</HTML>";

const std::string At = "(伝言)    送信日時:2020年12月07日(月) 09時05分03秒";

class MessageSendTest : public ::testing::Test {
protected:
    MessageSendTest() : Clients_(5), Logger_(Home_.Dir(), Office_.Clock, Sink_), Scoped_(Logger_) {
        Office_.IniText = "UDPMessage,Port=" + std::to_string(Clients_.Port()) + "\r\n";
        Office_.WriteStandardOffice();
        Office_.Open();
    }

    std::string Mil(const std::string& key) { return Office_.Dir.Read(key + ".mil"); }
    std::vector<TLoopbackClients::TGot> Sent() { return Clients_.Collect(Office_.Env->Protocol()); }

    TPageTestOffice Office_;
    TLoopbackClients Clients_;
    TTestTempDir Home_;
    TCapturingEventSink Sink_;
    TLogger Logger_;
    TScopedLogger Scoped_;
};

}  // namespace

TEST(MessageHeaderLine, FormatsTheSendTimeAsTheClientsShowIt) {
    EXPECT_EQ(MessageHeaderLine("ゲスト", EncodeDate(2020, 12, 7) + EncodeTime(9, 5, 3)), "○ゲスト" + At);
    EXPECT_EQ(MessageHeaderLine("x", EncodeDate(2021, 1, 3) + EncodeTime(23, 59, 0)),
              "○x(伝言)    送信日時:2021年01月03日(日) 23時59分00秒");
}

TEST_F(MessageSendTest, FormPageBytes) {
    const std::string page = Office_.Maker().MakeMessageSendPage(TPageTestOffice::Request("/udengonsend?user=sato"));
    EXPECT_EQ(page,
              "<HTML>\r\n"
              "  <HEAD><STYLE TYPE=\"text/css\">\r\n"
              ".NOBORDER\t\t\t\t{}\r\n"
              ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
              "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
              ".widthdef\t\t\t\t{width:780;}\r\n"
              ".Title\t\t\t\t\t\t{FONT-WEIGHT:bold;\x81\x40"
              "FONT-SIZE:16pt; COLOR:white;}\r\n"
              "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; "
              "BACKGROUND-COLOR:black;}\r\n"
              "TH\t\t\t\t\t\t\t\t{WIDTH:180; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:white; "
              "BACKGROUND-COLOR:DarkCyan; padding:4px;}\r\n"
              "TD\t\t\t\t\t\t\t\t{WIDTH:480; \t\t\t\tTEXT-ALIGN:left;   FONT-SIZE:12pt; COLOR:black; "
              "BACKGROUND-COLOR:white;}\r\n"
              "INPUT\t\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
              "TEXTAREA\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
              "</STYLE></HEAD>\r\n"
              "  <BODY>\r\n"
              "    <CENTER>\r\n"
              "      <FORM NAME=\"dengonsend\" TARGET=\"umaintarget\" ACTION=\"udengonsendresult\">\r\n"
              "      <SPAN CLASS=\"Title\">佐藤花子さん宛の伝言を送信します。</SPAN>\r\n"
              "      <INPUT TYPE=\"HIDDEN\" NAME=\"user\"  VALUE=\"sato\">\r\n"
              "      <TABLE>\r\n"
              "        <TR>\r\n"
              "          <TH>送信者の名前</TH>\r\n"
              "          <TD><INPUT NAME=\"sender\" VALUE=\"ゲスト\" SIZE=\"40\"></TD>\r\n"
              "        </TR>\r\n"
              "        <TR>\r\n"
              "          <TH>伝言の内容</TH>\r\n"
              "          <TD><TEXTAREA NAME=\"dengonmessage\" COLS=\"60\" ROWS=\"12\">"
              "ここに伝言として送信する内容を入れてください。</TEXTAREA></TD>\r\n"
              "        </TR>\r\n"
              "      </TABLE>\r\n"
              "      </FORM>\r\n"
              "    </CENTER>\r\n"
              "  </BODY>\r\n"
              "</HTML>");
}

TEST_F(MessageSendTest, FormPageEscapesNameAndKeyAndRejectsUnknownUser) {
    TTestPerson p = TPageTestOffice::Tanaka();
    p.Key = "a\"b";
    p.Name = "<i>田中</i>";
    Office_.AddPerson(p);
    Office_.Rescan();
    const std::string page =
        Office_.Maker().MakeMessageSendPage(TPageTestOffice::Request("/udengonsend?user=" + FormEncode("a\"b")));
    EXPECT_NE(page.find("&lt;i&gt;田中&lt;/i&gt;さん宛"), std::string::npos);
    EXPECT_NE(page.find("VALUE=\"a&quot;b\">"), std::string::npos);
    EXPECT_EQ(page.find("<i>"), std::string::npos);

    EXPECT_THROW(Office_.Maker().MakeMessageSendPage(TPageTestOffice::Request("/udengonsend")), std::runtime_error);
}

TEST_F(MessageSendTest, FirstMessageCreatesTheFileSecondGoesInFront) {
    EXPECT_EQ(Office_.Maker().MakeMessageSentPage(SendRequest("tanaka", "鈴木", "電話ください\r\n至急")), SentPage);
    const std::string first = "○鈴木" + At + "\r\n電話ください\r\n至急\r\n\r\n";
    EXPECT_EQ(Mil("tanaka"), first);

    Office_.Clock.Advance(EncodeTime(0, 1, 0));
    Office_.Maker().MakeMessageSentPage(SendRequest("tanaka", "佐藤", ""));
    EXPECT_EQ(Mil("tanaka"), "○佐藤(伝言)    送信日時:2020年12月07日(月) 09時06分03秒\r\n\r\n\r\n" + first);

    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    for (const auto& got : sent) {
        EXPECT_EQ(got.To, "127.0.0.4");
        EXPECT_EQ(got.Bytes, "\x01Kvl3_Msgtanaka\x01Kvl3_Eod");
    }
    EXPECT_TRUE(Sink_.Entries().empty());
}

TEST_F(MessageSendTest, SenderBlanksAndMarkupAreStoredAsTyped) {
    Office_.Maker().MakeMessageSentPage(SendRequest("sato", " \t\r\n ", "a"));
    EXPECT_EQ(Mil("sato"), "○ゲスト" + At + "\r\na\r\n\r\n");
    std::remove(Office_.Dir.File("sato.mil").c_str());

    Office_.Maker().MakeMessageSentPage(SendRequest("sato", " 太郎 ", "</xmp><script>x</script>&"));
    EXPECT_EQ(Mil("sato"), "○ 太郎 " + At + "\r\n</xmp><script>x</script>&\r\n\r\n");
    std::remove(Office_.Dir.File("sato.mil").c_str());

    // No sender field at all is the guest too.
    Office_.Maker().MakeMessageSentPage(TPageTestOffice::Request("/udengonsendresult?user=sato"));
    EXPECT_EQ(Mil("sato"), "○ゲスト" + At + "\r\n\r\n\r\n");
}

TEST_F(MessageSendTest, UnknownUserWritesNothingAndSendsNothing) {
    for (const char* user : {"", "Sato", "nobody", "sato.kvl"}) {
        try {
            Office_.Maker().MakeMessageSentPage(SendRequest(user, "x", "y"));
            ADD_FAILURE() << "accepted user " << user;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "存在しないユーザ情報を要求されました。");
        }
    }
    for (const char* key : {"sato", "suzuki", "tanaka", "yamada", "Sato", "nobody"})
        EXPECT_FALSE(FileExists(Office_.Dir.File(std::string(key) + ".mil"))) << key;
    EXPECT_TRUE(Sent().empty());
}

TEST_F(MessageSendTest, UnreachableClientIsLoggedAndTheMessageStaysStored) {
    Office_.Env->Protocol().UdpClient().Socket.SetSendToCall(
        [](int, const void*, size_t, const TInet4Address&, uint16_t) -> long {
            errno = ENETUNREACH;
            return -1;
        });
    EXPECT_EQ(Office_.Maker().MakeMessageSentPage(SendRequest("suzuki", "x", "y")), SentPage);
    EXPECT_EQ(Mil("suzuki"), "○x" + At + "\r\ny\r\n\r\n");

    const auto entries = Sink_.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Type, TEventType::Warning);
    EXPECT_EQ(entries[0].EventId, EventWarning);
    EXPECT_NE(entries[0].Text.find("鈴木次郎(suzuki)"), std::string::npos) << entries[0].Text;
    EXPECT_NE(entries[0].Text.find("127.0.0.3"), std::string::npos);
    EXPECT_NE(entries[0].Text.find("Socket Error # " + std::to_string(ENETUNREACH)), std::string::npos);
    const std::string log = Home_.Read("QUOR.LOG");
    EXPECT_NE(log.find("警告　 鈴木次郎(suzuki)"), std::string::npos) << log;

    Office_.Env->Protocol().UdpClient().Socket.SetSendToCall({});
    EXPECT_TRUE(Sent().empty());
}

TEST_F(MessageSendTest, FileErrorFailsThePageAndSendsNoNotice) {
    // A directory where the message file would go cannot be prepended to.
    ASSERT_EQ(::mkdir(Office_.Dir.File("yamada.mil").c_str(), 0755), 0);
    EXPECT_THROW(Office_.Maker().MakeMessageSentPage(SendRequest("yamada", "x", "y")), std::exception);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(MessageSendTest, ConcurrentSendsAllLandWholeAndInOrder) {
    constexpr int Threads = 20;
    constexpr int PerThread = 10;
    // Counted at the socket: 200 datagrams could overflow a receive buffer.
    std::atomic<int> notices{0};
    Office_.Env->Protocol().UdpClient().Socket.SetSendToCall(
        [&](int, const void* data, size_t size, const TInet4Address& to, uint16_t) -> long {
            if (std::string(static_cast<const char*>(data), size) == "\x01Kvl3_Msgsato\x01Kvl3_Eod" &&
                to.ToString() == "127.0.0.2")
                ++notices;
            return static_cast<long>(size);
        });
    std::atomic<bool> writing{true};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i) {
                try {
                    Office_.Maker().MakeMessageSentPage(
                        SendRequest("sato", "s" + std::to_string(t),
                                    "m" + std::to_string(t) + "-" + std::to_string(i) + "\r\nend"));
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    // A reader of the board meanwhile only ever sees whole entries.
    std::thread reader([&] {
        TKavelPerson sato;
        sato.FilePath = Office_.Dir.File("sato.kvl");
        while (writing.load()) {
            const auto lines = SplitLines(
                FileExists(Office_.Dir.File("sato.mil")) ? ReadWholeFile(Office_.Dir.File("sato.mil")) : std::string());
            if (lines.size() % 4 != 0) ++failures;
            RenderMessages(sato);
        }
    });
    for (auto& th : threads) th.join();
    writing = false;
    reader.join();
    EXPECT_EQ(failures.load(), 0);

    const auto lines = SplitLines(Mil("sato"));
    ASSERT_EQ(lines.size(), 4u * Threads * PerThread);
    std::map<int, int> lastSeen;  // thread -> message number seen last (newest first)
    for (size_t e = 0; e < lines.size(); e += 4) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(lines[e + 1].c_str(), "m%d-%d", &t, &i), 2) << lines[e + 1];
        EXPECT_EQ(lines[e], "○s" + std::to_string(t) + At);
        EXPECT_EQ(lines[e + 2], "end");
        EXPECT_EQ(lines[e + 3], "");
        if (lastSeen.count(t))
            EXPECT_EQ(i, lastSeen[t] - 1) << "thread " << t;
        else
            EXPECT_EQ(i, PerThread - 1);
        lastSeen[t] = i;
    }
    EXPECT_EQ(lastSeen.size(), static_cast<size_t>(Threads));
    EXPECT_EQ(notices.load(), Threads * PerThread);
}

// A sender with a line break wrote lines of its own into the file, a forged
// entry header among them; a body line could pose as one; a zero byte cut
// off the messages behind it at the next send.
TEST_F(MessageSendTest, NoValueCanForgeEntriesOrHideMessages) {
    Office_.Maker().MakeMessageSentPage(SendRequest("sato", "太郎", "先の伝言"));
    const std::string before = Mil("sato");
    // (The URL decoder drops %00; a raw zero byte still arrives.)
    const std::string nul(1, '\0');
    for (const std::string& query : {
             "&sender=" + FormEncode("太郎\r\n○社長(伝言)    送信日時:2020年01月01日(水) 00時00分00秒"),
             "&sender=" + FormEncode("太郎\n") + "&dengonmessage=x",
             "&sender=x&dengonmessage=a" + nul + "b",
             "&sender=x" + nul + "&dengonmessage=b",
             std::string("&sender=x&dengonmessage=a%01Kvl3_Eod"),
         }) {
        EXPECT_THROW(
            Office_.Maker().MakeMessageSentPage(TPageTestOffice::Request("/udengonsendresult?user=sato" + query)),
            ERefusedValue)
            << query;
    }
    EXPECT_EQ(Mil("sato"), before);

    Office_.Maker().MakeMessageSentPage(SendRequest("sato", "花子", "了解\r\n○社長(伝言)    送信日時:偽"));
    EXPECT_EQ(Mil("sato"), "○花子" + At + "\r\n了解\r\n　○社長(伝言)    送信日時:偽\r\n\r\n" + before);
    EXPECT_EQ(Sent().size(), 2u);
}
