#include "tests/soak/soak_traffic.h"

#include <algorithm>
#include <exception>
#include <random>

#include "tests/server_harness.h"
#include "tests/soak/office_tuning.h"

namespace {

constexpr size_t MaxFaultsKept = 20;
const char* const UserPages[] = {"/uinfo", "/uframe", "/udengoncheck", "/udengonsend", "/uhuzai", "/uopmenu"};
const char KanaRows[] = "aksthnmyrw";
const std::string UnknownUserText = "存在しないユーザ情報を要求されました。";

class TClient {
public:
    TClient(const TSoakPlan& plan, int index, const std::string& ownPerson, TClientRecord& record)
        : Plan_(plan),
          Index_(index),
          OwnPerson_(ownPerson),
          Record_(record),
          Random_(static_cast<std::mt19937::result_type>(7919 * (index + 1))) {}

    void Run() {
        while (std::chrono::steady_clock::now() < Plan_.Deadline && Record_.Sent < Plan_.MaxRequestsPerClient) {
            const int roll = Pick(100);
            if (roll < 30)
                Board();
            else if (roll < 34)
                Frames();
            else if (roll < 52)
                PersonPage();
            else if (roll < 70)
                Image();
            else if (roll < 82)
                Message();
            else if (roll < 97)
                Absence();
            else
                NobodysPage();
        }
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(Random_); }
    template <typename T>
    const T& PickOf(const std::vector<T>& items) {
        return items[static_cast<size_t>(Pick(static_cast<int>(items.size())))];
    }
    std::string AnyPerson() {
        const size_t n = Plan_.ChurnPersons.size() + Plan_.OtherPersons.size();
        const size_t i = static_cast<size_t>(Pick(static_cast<int>(n)));
        return i < Plan_.ChurnPersons.size() ? Plan_.ChurnPersons[i]
                                             : Plan_.OtherPersons[i - Plan_.ChurnPersons.size()];
    }
    std::string NextToken(const char* kind) {
        return "[soak-" + std::string(kind) + "-t" + std::to_string(Index_) + "-n" + std::to_string(++Serial_) + "]";
    }

    void Fault(const std::string& what) {
        ++Record_.FaultCount;
        if (Record_.Faults.size() < MaxFaultsKept) Record_.Faults.push_back(what);
    }

    // The answer, or nullopt when there was none (recorded as a fault).
    std::optional<THttpAnswer> Get(const std::string& kind, const std::string& target) {
        ++Record_.Sent;
        ++Record_.Requests[kind];
        try {
            THttpAnswer answer = HttpGet(Plan_.Port, target);
            const std::optional<std::string> length = answer.Header("Content-Length");
            if (length && *length != std::to_string(answer.Body.size()))
                Fault(target + ": " + std::to_string(answer.Body.size()) + " bytes of " + *length);
            return answer;
        } catch (const std::exception& e) {
            Fault(target + ": " + e.what());
            return std::nullopt;
        }
    }

    // 200, or a 500 for a person that may be missing at the moment.
    enum class TOutcome { Done, Unlisted, Failed };
    TOutcome Expect(const std::string& kind, const std::string& target, bool mayBeUnlisted,
                    const char* bodyEnd = "</HTML>") {
        const std::optional<THttpAnswer> answer = Get(kind, target);
        if (!answer) return TOutcome::Failed;
        if (answer->Status == 200) {
            if (bodyEnd && answer->Body.find(bodyEnd) == std::string::npos) Fault(target + ": page incomplete");
            return TOutcome::Done;
        }
        // The error page says why: only a missing person may fail.
        if (answer->Status == 500 && mayBeUnlisted && answer->Body.find(UnknownUserText) != std::string::npos) {
            ++Record_.UnknownUserAnswers;
            return TOutcome::Unlisted;
        }
        Fault(target + ": status " + std::to_string(answer->Status));
        return TOutcome::Failed;
    }

    void Board() {
        std::string query;
        if (Pick(3) > 0) query += "furiganaFilter=" + std::string(1, KanaRows[Pick(10)]);
        if (Pick(3) > 0) {
            if (!query.empty()) query += '&';
            query += "groupFilter=" + PercentEncode(PickOf(Plan_.Groups));
        }
        Expect("board", "/keiziban" + (query.empty() ? "" : "?" + query), false);
    }

    void Frames() { Expect("frames", Pick(2) ? "/" : "/controls", false); }

    void PersonPage() {
        const std::string person = AnyPerson();
        const char* page = UserPages[Pick(static_cast<int>(std::size(UserPages)))];
        Expect("person", std::string(page) + "?user=" + person, Plan_.IsChurn(person));
    }

    void Image() {
        const std::string target = "/" + PickOf(Plan_.Images);
        const std::optional<THttpAnswer> answer = Get("image", target);
        if (!answer) return;
        if (answer->Status != 200 || answer->Body.compare(0, 2, "\xFF\xD8") != 0)
            Fault(target + ": status " + std::to_string(answer->Status) + ", not a JPEG");
    }

    void Message() {
        const std::string person = PickOf(Plan_.MessageTargets);
        const std::string token = NextToken("m");
        const std::string text = token + "\r\n" + "二行目の本文";
        const std::string target = "/udengonsendresult?user=" + person + "&sender=soak" + std::to_string(Index_) +
                                   "&dengonmessage=" + PercentEncode(text);
        switch (Expect("message", target, Plan_.IsChurn(person), "送信しました")) {
            case TOutcome::Done:
                Record_.Acknowledged.push_back({person, token});
                break;
            case TOutcome::Unlisted:
                Record_.Refused.push_back({person, token});
                break;
            case TOutcome::Failed:
                Record_.Uncertain.push_back({person, token});
                break;
        }
    }

    void Absence() {
        const bool own = Pick(4) > 0;
        const std::string person = own ? OwnPerson_ : PickOf(Plan_.ChurnPersons);
        static const char* const kinds[] = {"datetime", "nolimit", "reset"};
        TAbsenceForm form;
        form.Kind = kinds[Pick(3)];
        form.Date = "2030/0" + std::to_string(1 + Pick(9)) + "/1" + std::to_string(Pick(10));
        form.Time = std::to_string(10 + Pick(10)) + ":" + std::to_string(10 + Pick(50));
        form.Reason = NextToken("a") + " 外出中";
        form.Icon = Pick(3);
        const std::string target =
            "/uhuzaisetsubmit?user=" + person + "&modoritype=" + form.Kind + "&modoridate=" + PercentEncode(form.Date) +
            "&modoritime=" + PercentEncode(form.Time) + "&huzairiyu=" + PercentEncode(form.Reason) +
            "&statusicon=" + std::to_string(form.Icon);
        // Only this client sets its own person's absence, one form after the
        // other: the last acknowledged one is what the file must hold.
        if (Expect("absence", target, !own) == TOutcome::Done && own) Record_.LastOwnAbsence = form;
    }

    void NobodysPage() { Expect("nobody", "/uinfo?user=nobody" + std::to_string(Pick(1000)), true); }

    const TSoakPlan& Plan_;
    const int Index_;
    const std::string OwnPerson_;
    TClientRecord& Record_;
    std::mt19937 Random_;
    std::uint64_t Serial_ = 0;
};

}  // namespace

bool TSoakPlan::IsChurn(const std::string& person) const {
    return std::find(ChurnPersons.begin(), ChurnPersons.end(), person) != ChurnPersons.end();
}

std::vector<std::string> ExpectedAbsenceValues(const TAbsenceForm& form, const std::vector<std::string>& captions) {
    if (form.Kind == "reset") return {"", "", "", "0"};
    if (form.Kind == "nolimit")
        return {form.Reason, captions.at(static_cast<size_t>(form.Icon)), "", std::to_string(form.Icon)};
    return {form.Reason, form.Date, form.Time, std::to_string(form.Icon)};
}

void RunSoakClient(const TSoakPlan& plan, int index, const std::string& ownPerson, TClientRecord& record) {
    TClient(plan, index, ownPerson, record).Run();
}
