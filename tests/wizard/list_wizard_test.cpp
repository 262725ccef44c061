// The search-all wizard's page logic, driven like a user through a frame in memory.
#include <gtest/gtest.h>

#include "resources/wizard_ids.h"
#include "resources/wizard_texts.h"
#include "tests/wizard/fake_wizard.h"
#include "wizard/sheet.h"

namespace nvtest {
namespace {

using P = FakeDiscovery::Printer;

const P kLab1{Ip(192, 168, 0, 20), Ip(255, 255, 255, 0), Ip(192, 168, 0, 1), "021a2b3c4d5e",
              "Lab Printer 1"};
const P kLab2{Ip(192, 168, 0, 21), 0, 0, nullptr, "Lab Printer 2"};

class ListWizard : public ::testing::Test {
  protected:
    // Runs the wizard with the user's actions; the result of RunWizard.
    int Run(FakeFrame::Script actions) {
        frame_ = std::make_unique<FakeFrame>(std::move(actions));
        frame_->answers = answers_;
        return sheet_.RunWizard(*frame_);
    }
    FakeView& List() { return frame_->Page(0); }
    const wizard::Text* Chosen() { return sheet_.ListPage().m_chosen; }

    FakeDiscovery discovery_;
    ScopedDiscovery scoped_{&discovery_};
    std::deque<Answer> answers_;
    wizard::CSheet sheet_;
    std::unique_ptr<FakeFrame> frame_;
};

// The search runs off the page's thread once the page is shown; its records are read and
// freed on the page's thread.
TEST_F(ListWizard, TheFirstSearchRunsInTheBackgroundOnceTheListPageIsShown) {
    discovery_.searches = {{kLab1, kLab2}};
    Run([](FakeFrame&) {});
    EXPECT_EQ(1, discovery_.broadcasts);
    EXPECT_EQ(1, frame_->backgroundRuns);
    EXPECT_EQ(discovery_.starts, discovery_.stops);
    ASSERT_EQ(1u, discovery_.searchThreads.size());
    EXPECT_NE(std::this_thread::get_id(), discovery_.searchThreads[0]);
    EXPECT_EQ(std::vector<std::thread::id>{std::this_thread::get_id()}, discovery_.stopThreads);
    ASSERT_EQ(5u, List().columns.size());
    EXPECT_EQ(u"打印机名称", List().columns[0]);
    EXPECT_EQ(100, List().columnWidth);
    // Newest first: the record that answered last is row 0.
    ASSERT_EQ(2u, List().rows.size());
    EXPECT_EQ(u"Lab Printer 2", List().rows[0][0]);
    EXPECT_EQ((std::vector<wizard::Text>{u"Lab Printer 1", u"192.168.0.20", u"192.168.0.1",
                                         u"255.255.255.0", u"021a2b3c4d5e"}),
              List().rows[1]);
    EXPECT_TRUE(frame_->nextButton);
    EXPECT_FALSE(frame_->backButton);
    EXPECT_FALSE(frame_->cancelEnabled);
    EXPECT_FALSE(List().busy);
    EXPECT_TRUE(List().IsEnabled(IDC_REFRESH));
}

TEST_F(ListWizard, ZeroMaskAndGatewayLeaveEmptyCellsAndValues) {
    discovery_.searches = {{kLab2}};
    Run([](FakeFrame& f) { f.Next(); });
    EXPECT_EQ((std::vector<wizard::Text>{u"Lab Printer 2", u"192.168.0.21", u"", u"", u""}),
              List().rows[0]);
    FakeView& settings = frame_->Page(1);
    EXPECT_EQ(u"192.168.0.21", settings.texts[IDC_SETTING_IP]);
    EXPECT_EQ(u"", settings.texts[IDC_SETTING_MASK]);
    EXPECT_EQ(u"", settings.texts[IDC_SETTING_GATEWAY]);
}

TEST_F(ListWizard, NoPrinterAsksToSearchAgainAndNoEndsTheWizard) {
    discovery_.searches = {{}};
    answers_ = {Answer::kYes, Answer::kNo};
    int result = Run([](FakeFrame& f) {
        f.Next();
        EXPECT_FALSE(f.closed) << "Yes searches again and stays";
        f.Next();
    });
    EXPECT_EQ(0, result);
    ASSERT_EQ(2u, frame_->messages.size());
    const Message& question = frame_->messages[0];
    EXPECT_EQ(u"NORVA网络打印机安装向导 - 错误.", question.title);
    EXPECT_EQ(wizard::Text(wiztext::kNoPrinterQuestion), question.text);
    EXPECT_EQ(wizard::Buttons::kYesNo, question.buttons);
    EXPECT_EQ(wizard::Icon::kWarning, question.icon);
    EXPECT_EQ(2, discovery_.broadcasts);
    EXPECT_TRUE(frame_->closed);
    EXPECT_TRUE(frame_->cancelEnabled) << "the cancel end enables Cancel before closing";
}

TEST_F(ListWizard, ASingleUnselectedPrinterIsTaken) {
    discovery_.searches = {{kLab1}};
    int result = Run([](FakeFrame& f) {
        f.Next();
        EXPECT_EQ(1u, f.current) << "the settings page";
        f.Next();
    });
    EXPECT_EQ(1, result);
    EXPECT_TRUE(frame_->messages.empty());
    EXPECT_EQ(u"192.168.0.20", Chosen()[1]);
}

TEST_F(ListWizard, WithSeveralRowsAndNoneSelectedTheFirstIsTaken) {
    discovery_.searches = {{kLab1, kLab2}};
    Run([](FakeFrame& f) { f.Next(); });
    EXPECT_EQ(u"Lab Printer 2", Chosen()[0]);
}

TEST_F(ListWizard, OfSeveralSelectedRowsTheLowestIsTaken) {
    discovery_.searches = {{kLab1, kLab2, P{Ip(10, 0, 0, 5), 0, 0, nullptr, "Third"}}};
    Run([](FakeFrame& f) {
        f.Current().selected = {2, 1};
        f.Next();
    });
    EXPECT_EQ(u"Lab Printer 2", Chosen()[0]);
}

// A printer without a usable description is listed with an empty name and taken like any
// other; its port is named by its address.
TEST_F(ListWizard, APrinterWithoutANameCanBeChosen) {
    discovery_.searches = {{P{Ip(10, 0, 0, 5), 0, 0, "02000000000a", nullptr}}};
    int result = Run([](FakeFrame& f) {
        f.Next();
        EXPECT_EQ(1u, f.current) << "the settings page";
        EXPECT_EQ(u"10.0.0.5", f.Current().texts[IDC_SETTING_IP]);
        f.Next();
    });
    EXPECT_EQ(1, result);
    EXPECT_TRUE(frame_->messages.empty());
    EXPECT_EQ(u"", Chosen()[0]);
    EXPECT_EQ(u"10.0.0.5", Chosen()[1]);
    EXPECT_EQ(std::vector<wizard::Text>{u"NORVA_10.0.0.5"}, discovery_.portQuestions);
}

TEST_F(ListWizard, AnExistingPortIsAskedAboutAndLetterCaseCounts) {
    discovery_.searches = {{kLab1}};
    discovery_.existingPorts = {u"NORVA_192.168.0.20"};
    answers_ = {Answer::kYes};
    Run([](FakeFrame& f) { f.Next(); });
    ASSERT_EQ(1u, frame_->messages.size());
    EXPECT_EQ(wizard::Text(wiztext::kPortExistsQuestion), frame_->messages[0].text);
    EXPECT_EQ(u"NORVA网络打印机安装向导 - 错误.", frame_->messages[0].title);
    EXPECT_EQ(1u, frame_->current);

    discovery_.existingPorts = {u"norva_192.168.0.20"};
    wizard::CSheet other;
    FakeFrame frame([](FakeFrame& f) { f.Next(); });
    other.RunWizard(frame);
    EXPECT_TRUE(frame.messages.empty()) << "a subkey differing in letter case is another port";
}

TEST_F(ListWizard, NoToThePortQuestionEndsWithoutAPrinter) {
    discovery_.searches = {{kLab1}};
    discovery_.existingPorts = {u"NORVA_192.168.0.20"};
    answers_ = {Answer::kNo};
    EXPECT_EQ(0, Run([](FakeFrame& f) { f.Next(); }));
    EXPECT_TRUE(frame_->closed);
}

TEST_F(ListWizard, BackAnotherRowAndNextShowTheNewChoice) {
    discovery_.searches = {{kLab1, kLab2}};
    int result = Run([](FakeFrame& f) {
        f.Current().selected = {0};
        f.Next();
        EXPECT_EQ(u"192.168.0.21", f.Current().texts[IDC_SETTING_IP]);
        f.Back();
        EXPECT_EQ(0u, f.current);
        f.Current().selected = {1};
        f.Next();
        EXPECT_EQ(u"192.168.0.20", f.Current().texts[IDC_SETTING_IP]);
        EXPECT_EQ(u"255.255.255.0", f.Current().texts[IDC_SETTING_MASK]);
        EXPECT_EQ(u"192.168.0.1", f.Current().texts[IDC_SETTING_GATEWAY]);
        f.Next();
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ(1, discovery_.broadcasts) << "Back runs no new search";
    EXPECT_EQ((std::vector<wizard::Text>{u"NORVA_192.168.0.21", u"NORVA_192.168.0.20"}),
              discovery_.portQuestions);
    EXPECT_EQ(u"Lab Printer 1", Chosen()[0]);
}

TEST_F(ListWizard, RefreshReplacesEveryRow) {
    discovery_.searches = {{kLab1, kLab2}, {kLab2}};
    Run([](FakeFrame& f) {
        ASSERT_EQ(2u, f.Current().rows.size());
        f.Click(IDC_REFRESH);
        ASSERT_EQ(1u, f.Current().rows.size());
        EXPECT_EQ(u"Lab Printer 2", f.Current().rows[0][0]);
    });
    EXPECT_EQ(2, discovery_.broadcasts);
}

// Leaving the wizard while the first search runs cancels the search and ends the wizard as
// cancelled. What the search found anyway is dropped: no row, and its records freed on the
// page's thread once the search's thread has ended.
TEST_F(ListWizard, LeavingDuringASearchCancelsItAndDropsItsResult) {
    discovery_.searches = {{kLab1}};
    discovery_.searchUntilCancelled = true;
    FakeFrame frame([](FakeFrame&) { ADD_FAILURE() << "the wizard stayed open"; });
    frame.leaveDuringSearches = true;
    EXPECT_EQ(0, sheet_.RunWizard(frame));
    EXPECT_TRUE(frame.closed);
    EXPECT_EQ(1, discovery_.cancels);
    EXPECT_TRUE(frame.Page(0).rows.empty());
    EXPECT_FALSE(discovery_.recordsAlive);
    EXPECT_EQ(std::vector<std::thread::id>{std::this_thread::get_id()}, discovery_.stopThreads);
    EXPECT_TRUE(frame.messages.empty());
    EXPECT_FALSE(frame.Page(0).busy);
}

TEST_F(ListWizard, OnlyTheSettingsPageFinishes) {
    discovery_.searches = {{kLab1}};
    EXPECT_EQ(0, Run([](FakeFrame& f) { f.pages[0]->HandleClose(); }));
    wizard::CSheet other;
    FakeFrame frame([](FakeFrame& f) {
        f.Next();
        f.pages[1]->HandleClose();
    });
    EXPECT_EQ(1, other.RunWizard(frame));
}

}  // namespace
}  // namespace nvtest
