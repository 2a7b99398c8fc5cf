#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "http/http_response_info.h"
#include "pages/page_test_office.h"

namespace {

std::string Frame(const std::string& mainSource, const std::string& menuSource) {
    return "<HTML>\r\n"
           "  <HEAD>\r\n"
           "    <TITLE>Quorwell</TITLE>\r\n"
           "  </HEAD>\r\n"
           "  <FRAMESET ROWS=\"*,120\" BORDER=\"0\" WIDTH=\"780\">\r\n"
           "    <FRAME NAME=\"umaintarget\" SRC=\"" +
           mainSource +
           "\">\r\n"
           "    <FRAME NAME=\"uopmenu\" SRC=\"" +
           menuSource +
           "\">\r\n"
           "  </FRAMESET>\r\n"
           "</HTML>";
}

class UserFramePage : public ::testing::Test {
protected:
    void SetUp() override {
        office.WriteStandardOffice();
        TTestPerson odd = TPageTestOffice::Tanaka();
        odd.Key = "a&b #1+50%";
        office.AddPerson(odd);
        office.Open();
    }
    std::string UserFrame(const std::string& query) {
        return office.Maker().MakeUserFramePage(TPageTestOffice::Request("/uframe" + query));
    }
    // The text the page raises with, or "(none)".
    std::string FailureOf(const std::string& query) {
        try {
            UserFrame(query);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(none)";
    }
    TPageTestOffice office;
};

TEST_F(UserFramePage, FramesetForTheNamedPerson) {
    EXPECT_EQ(UserFrame("?user=tanaka"), Frame("uinfo?user=tanaka", "uopmenu?user=tanaka"));
    EXPECT_EQ(UserFrame("?user=tanaka&Operation=uhuzai"), Frame("uhuzai?user=tanaka", "uopmenu?user=tanaka"));
    EXPECT_EQ(UserFrame("?operation=udengoncheck&user=tanaka"),
              Frame("udengoncheck?user=tanaka", "uopmenu?user=tanaka"));
    EXPECT_EQ(UserFrame("?user=tanaka&Operation="), Frame("uinfo?user=tanaka", "uopmenu?user=tanaka"));
    // A name that is no page is still written; its frame then gets the unknown-path answer.
    EXPECT_EQ(UserFrame("?user=tanaka&Operation=nosuchpage"), Frame("nosuchpage?user=tanaka", "uopmenu?user=tanaka"));
}

TEST_F(UserFramePage, KeyWithUrlBytesIsEncodedSoTheLinkFindsThePersonAgain) {
    EXPECT_EQ(UserFrame("?user=a%26b%20%231%2B50%25"),
              Frame("uinfo?user=a%26b%20%231%2B50%25", "uopmenu?user=a%26b%20%231%2B50%25"));
}

TEST_F(UserFramePage, UnknownUsers) {
    const std::string unknown = "存在しないユーザ情報を要求されました。";
    EXPECT_EQ(FailureOf(""), unknown);
    EXPECT_EQ(FailureOf("?user="), unknown);
    EXPECT_EQ(FailureOf("?user=Tanaka"), unknown);  // the key is compared with case
    EXPECT_EQ(FailureOf("?user=nobody&Operation=uinfo"), unknown);

    // Through the router the failure is not swallowed: the dispatcher answers 500.
    TIdHTTPResponseInfo response;
    EXPECT_THROW(office.Maker().MakePage(TPageTestOffice::Request("/uframe?user=nobody"), response),
                 std::runtime_error);
    EXPECT_EQ(response.ContentType, "text/html; charset=SJIS");
}

TEST_F(UserFramePage, HostileOperationStaysARelativeNameWithoutMarkup) {
    // Markup is escaped.
    EXPECT_EQ(UserFrame("?user=tanaka&Operation=%22%3E%3Cscript%3Ealert(1)%3C/script%3E"),
              Frame("&quot;&gt;&lt;script&gt;alert(1)&lt;%2Fscript&gt;?user=tanaka", "uopmenu?user=tanaka"));
    // A scheme or another host would load something else into the frame.
    EXPECT_EQ(UserFrame("?user=tanaka&Operation=javascript:alert(document.cookie)"),
              Frame("javascript%3Aalert(document.cookie)?user=tanaka", "uopmenu?user=tanaka"));
    EXPECT_EQ(UserFrame("?user=tanaka&Operation=//evil.example/x"),
              Frame("%2F%2Fevil.example%2Fx?user=tanaka", "uopmenu?user=tanaka"));
    EXPECT_EQ(UserFrame("?user=tanaka&Operation=%5C%5Cevil.example"),
              Frame("%5C%5Cevil.example?user=tanaka", "uopmenu?user=tanaka"));
    EXPECT_EQ(UserFrame("?user=tanaka&Operation=%20java%09script:x"),
              Frame("%20java%09script%3Ax?user=tanaka", "uopmenu?user=tanaka"));
}

}  // namespace
