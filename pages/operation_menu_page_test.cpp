#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>

#include "http/http_response_info.h"
#include "pages/operation_menu_page.h"
#include "pages/page_test_office.h"

namespace {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const std::string& line : lines) {
        if (!out.empty()) out += "\r\n";
        out += line;
    }
    return out;
}

std::string Click(const std::string& operation) {
    return "JavaScript:document.menubtn.operation.value = '" + operation + "'; document.menubtn.submit();";
}

// The menu page: urlKey as it stands in links, fieldKey in the hidden field.
std::string Menu(const std::string& urlKey, const std::string& fieldKey, const std::string& picture,
                 const std::string& strip) {
    const std::string style = Lines({
        "<STYLE TYPE=\"text/css\">",
        ".NOBORDER\t\t\t\t{}",
        ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }",
        "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}",
        ".widthdef\t\t\t\t{width:780;}",
        "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black;}",
        "TH\t\t\t\t\t\t\t\t{WIDTH:180; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:white;}",
        "TD\t\t\t\t\t\t\t\t{WIDTH:500; \t\t\t\tTEXT-ALIGN:left;   FONT-SIZE:14pt; COLOR:black;}",
        "</STYLE>",
    });
    auto area = [&](const std::string& coords, const std::string& operation) {
        return "              <AREA SHAPE=\"rect\" COORDS=\"" + coords + "\" TARGET=\"umaintarget\" HREF=\"" +
               operation + "?user=" + urlKey + "\" onClick=\"" + Click(operation) + "\">";
    };
    return Lines({
        "<HTML>",
        "  <HEAD>" + style + "</HEAD>",
        "  <BODY>",
        "    <CENTER>",
        "      <TABLE CLASS=\"NOBORDER\" STYLE=\"width:780\";>",
        "        <TR>",
        "          <TD STYLE=\"TEXT-ALIGN:center;\">",
        "            <FORM NAME=\"menubtn\" TARGET=\"uopmenu\" ACTION=\"uopmenu\">",
        "              <INPUT TYPE=\"hidden\" NAME=\"user\" VALUE=\"" + fieldKey + "\">",
        "              <INPUT TYPE=\"hidden\" NAME=\"operation\" VALUE=\"\">",
        "            </FORM>",
        "            <IMG SRC=\"" + picture + "\" USEMAP=\"#useropmenubtn\">",
        "            <MAP NAME=\"useropmenubtn\">",
        area("  9, 9, 98, 66", "uinfo"),
        area(" 97, 9,186, 66", "uhuzai"),
        area("185, 9,273, 66", "udengoncheck"),
        area("272, 9,361, 66", "udengonsend"),
        "            </MAP>",
        "          </TD>",
        "          <TD STYLE=\"TEXT-ALIGN:center;\">",
        "            " + strip,
        "          </TD>",
        "        </TR>",
        "      </TABLE>",
        "    </CENTER>",
        "  </BODY>",
        "</HTML>",
    });
}

std::string CloseStrip() {
    return Lines({
        "    <IMG SRC=\"btnreturn.jpg\" USEMAP=\"#useropsubmitbtn\">",
        "    <MAP NAME=\"useropsubmitbtn\">",
        "      <AREA SHAPE=\"rect\" COORDS=\"  0, 0, 217, 57\" TARGET=\"\" HREF=\"JavaScript:parent.close();\">",
        "    </MAP>",
    });
}

std::string AbsenceStrip(const std::string& urlKey) {
    return Lines({
        "    <IMG SRC=\"btnreturnandcancelandsubmit.jpg\" USEMAP=\"#useropsubmitbtn\">",
        "    <MAP NAME=\"useropsubmitbtn\">",
        "      <AREA SHAPE=\"rect\" COORDS=\"  0, 0, 127, 57\" TARGET=\"umaintarget\" "
        "HREF=\"JavaScript:parent.frames['umaintarget'].document.huzaiset.submit();\">",
        "      <AREA SHAPE=\"rect\" COORDS=\"128, 0, 217, 27\" TARGET=\"umaintarget\" HREF=\"uhuzaisetsubmit?user=" +
            urlKey + "&modoritype=reset\">",
        "      <AREA SHAPE=\"rect\" COORDS=\"128,28, 217, 57\" TARGET=\"\" HREF=\"JavaScript:parent.close();\">",
        "    </MAP>",
    });
}

std::string SendStrip() {
    return Lines({
        "    <IMG SRC=\"btnreturnandsend.jpg\" USEMAP=\"#useropsubmitbtn\">",
        "    <MAP NAME=\"useropsubmitbtn\">",
        "      <AREA SHAPE=\"rect\" COORDS=\"  0, 0, 128, 57\" TARGET=\"umaintarget\" "
        "onClick=\"JavaScript:parent.frames['umaintarget'].document.dengonsend.submit();\">",
        "      <AREA SHAPE=\"rect\" COORDS=\"129, 0, 217, 57\" TARGET=\"\" HREF=\"JavaScript:parent.close();\">",
        "    </MAP>",
    });
}

class OperationMenuPage : public ::testing::Test {
protected:
    void SetUp() override {
        office.WriteStandardOffice();
        office.Open();
    }
    std::string OpMenu(const std::string& query) {
        return office.Maker().MakeOperationMenuPage(TPageTestOffice::Request("/uopmenu" + query));
    }
    std::string FailureOf(const std::string& query) {
        try {
            OpMenu(query);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(none)";
    }
    std::string TanakaMenu(const std::string& picture, const std::string& strip) {
        return Menu("tanaka", "tanaka", picture, strip);
    }
    TPageTestOffice office;
};

TEST_F(OperationMenuPage, EachOperationHasItsPictureAndButtons) {
    const std::string details = TanakaMenu("btnmenusyousai.jpg", CloseStrip());
    EXPECT_EQ(OpMenu("?user=tanaka"), details);
    EXPECT_EQ(OpMenu("?user=tanaka&Operation="), details);
    EXPECT_EQ(OpMenu("?user=tanaka&Operation=uinfo"), details);
    EXPECT_EQ(OpMenu("?user=tanaka&Operation=uhuzai"), TanakaMenu("btnmenuhuzai.jpg", AbsenceStrip("tanaka")));
    EXPECT_EQ(OpMenu("?user=tanaka&Operation=udengoncheck"), TanakaMenu("btnmenudengoncheck.jpg", CloseStrip()));
    EXPECT_EQ(OpMenu("?user=tanaka&Operation=udengonsend"), TanakaMenu("btnmenudengonsend.jpg", SendStrip()));
}

TEST_F(OperationMenuPage, TheMenuFormsFieldNameSelectsButOtherSpellingsOfTheValueDoNot) {
    // As the menu form sends it: lower-case name, after the user.
    EXPECT_EQ(OpMenu("?user=tanaka&operation=udengonsend"), TanakaMenu("btnmenudengonsend.jpg", SendStrip()));
    const std::string empty = TanakaMenu("", "");
    EXPECT_EQ(OpMenu("?user=tanaka&Operation=UHUZAI"), empty);
    EXPECT_EQ(OpMenu("?user=tanaka&Operation=uhuzai%20"), empty);
    EXPECT_EQ(OpMenu("?user=tanaka&Operation=keiziban"), empty);
    EXPECT_EQ(office.Cache.Count(), 0u) << "the menu is not cached";
}

TEST_F(OperationMenuPage, UnknownUsers) {
    const std::string unknown = "存在しないユーザ情報を要求されました。";
    EXPECT_EQ(FailureOf(""), unknown);
    EXPECT_EQ(FailureOf("?Operation=uhuzai"), unknown);
    EXPECT_EQ(FailureOf("?user="), unknown);
    EXPECT_EQ(FailureOf("?user=Tanaka"), unknown);  // the key is compared with case
    EXPECT_EQ(FailureOf("?user=nobody&Operation=nosuch"), unknown);

    TIdHTTPResponseInfo response;
    EXPECT_THROW(office.Maker().MakePage(TPageTestOffice::Request("/uopmenu?user=nobody"), response),
                 std::runtime_error);
    EXPECT_EQ(response.ContentType, "text/html; charset=SJIS");
    EXPECT_TRUE(office.Maker().MakePage(TPageTestOffice::Request("/uopmenu?user=tanaka"), response));
    EXPECT_EQ(response.BodyText, TanakaMenu("btnmenusyousai.jpg", CloseStrip()));
}

TEST_F(OperationMenuPage, FollowsTheListWithoutCaching) {
    office.RemovePerson("tanaka");
    EXPECT_EQ(FailureOf("?user=tanaka"), "(none)") << "until the list is read again";
    office.Rescan();
    EXPECT_EQ(FailureOf("?user=tanaka"), "存在しないユーザ情報を要求されました。");
}

TEST_F(OperationMenuPage, KeyWithUrlBytesIsEncodedInLinksAndEscapedInTheField) {
    TTestPerson odd = TPageTestOffice::Tanaka();
    odd.Key = "a&b #1+50%";
    office.AddPerson(odd);
    office.Rescan();
    const std::string urlKey = "a%26b%20%231%2B50%25";
    EXPECT_EQ(OpMenu("?user=" + urlKey + "&Operation=uhuzai"),
              Menu(urlKey, "a&amp;b #1+50%", "btnmenuhuzai.jpg", AbsenceStrip(urlKey)));
}

TEST_F(OperationMenuPage, HostileKeyAndOperationBringNoMarkup) {
#ifdef _WIN32
    GTEST_SKIP() << "a Windows file name cannot hold the key's \" < > \\";
#endif
    TTestPerson evil = TPageTestOffice::Tanaka();
    evil.Key = "x\"><script>alert(1)<\\script><b a='";
    evil.Name = "<script>alert(2)</script>";
    office.AddPerson(evil);
    office.Rescan();
    const std::string query = "?user=x%22%3E%3Cscript%3Ealert(1)%3C%5Cscript%3E%3Cb%20a='";

    const std::string field = "x&quot;&gt;&lt;script&gt;alert(1)&lt;\\script&gt;&lt;b a='";
    const std::string link = "x&quot;&gt;&lt;script&gt;alert(1)&lt;\\script&gt;&lt;b%20a='";
    EXPECT_EQ(OpMenu(query + "&Operation=uhuzai"), Menu(link, field, "btnmenuhuzai.jpg", AbsenceStrip(link)));

    // The operation only picks a variant; its text never reaches the page.
    for (const char* operation :
         {"%22%3E%3Cscript%3Ealert(3)%3C/script%3E", "javascript:alert(4)", "uinfo%22%20onmouseover=%22alert(5)"}) {
        const std::string page = OpMenu(query + "&Operation=" + operation);
        EXPECT_EQ(page, Menu(link, field, "", "")) << operation;
        for (const char* raw : {"<script", "alert(3)", "alert(4)", "alert(5)", "<b "})
            EXPECT_EQ(page.find(raw), std::string::npos) << operation << " " << raw;
    }
}

}  // namespace
