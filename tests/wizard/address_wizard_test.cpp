// The search-by-address wizard's page logic, driven like a user through a frame in memory.
#include <gtest/gtest.h>

#include "resources/wizard_ids.h"
#include "resources/wizard_texts.h"
#include "tests/wizard/fake_wizard.h"
#include "wizard/sheet_by_ip.h"

namespace nvtest {
namespace {

using P = FakeDiscovery::Printer;

const P kLab1{Ip(192, 168, 0, 20), Ip(255, 255, 255, 0), Ip(192, 168, 0, 1), "021a2b3c4d5e",
              "Lab Printer 1"};
const P kBare{Ip(10, 0, 0, 5), 0, 0, nullptr, "Bare"};

class AddressWizard : public ::testing::Test {
  protected:
    int Run(FakeFrame::Script actions) {
        frame_ = std::make_unique<FakeFrame>(std::move(actions));
        frame_->answers = answers_;
        return sheet_.RunWizard(*frame_);
    }

    // Types an address into the IPv4 control: its four fields and the dotted text it shows.
    static void TypeAddress(FakeFrame& f, int a, int b, int c, int d) {
        f.Current().address = {a, b, c, d};
        f.Current().texts[IDC_IP_ADDRESS] = wizard::DottedText(Ip(a, b, c, d));
    }

    FakeDiscovery discovery_;
    ScopedDiscovery scoped_{&discovery_};
    std::deque<Answer> answers_;
    wizard::CSheetByIP sheet_;
    std::unique_ptr<FakeFrame> frame_;
};

TEST_F(AddressWizard, OpensInIpv4Mode) {
    Run([](FakeFrame& f) {
        FakeView& page = f.Current();
        EXPECT_TRUE(page.IsChecked(IDC_IP_RADIO));
        EXPECT_FALSE(page.IsChecked(IDC_HW_RADIO));
        EXPECT_TRUE(page.IsEnabled(IDC_IP_ADDRESS));
        EXPECT_FALSE(page.IsEnabled(IDC_HW_ADDRESS));
        EXPECT_EQ(wizard::Text(wiztext::kIpHelp), page.texts[IDC_HELP_TEXT]);
        EXPECT_EQ(std::make_pair(IDC_IP_ADDRESS, 0), page.focus);
        EXPECT_TRUE(f.nextButton);
        EXPECT_FALSE(f.backButton);
        EXPECT_FALSE(f.cancelEnabled);
    });
}

// Each field is checked in order; the first bad one is named and gets the focus.
TEST_F(AddressWizard, AddressFieldsAreCheckedInOrder) {
    struct Case {
        std::array<int, 4> fields;
        int badField;  // -1: accepted
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, 0},          {{224, 1, 1, 1}, 0},     {{10, 1, 1, 255}, 3},
        {{10, 1, 1, 0}, 3},         {{192, 168, 0, 20}, -1}, {{10, 0, 0, 5}, -1},
        {{223, 254, 254, 254}, -1}, {{1, 255, 255, 1}, -1},
    };
    discovery_.searches = {{}};
    for (const Case& c : cases) {
        wizard::CSheetByIP sheet;
        FakeFrame frame([&](FakeFrame& f) {
            TypeAddress(f, c.fields[0], c.fields[1], c.fields[2], c.fields[3]);
            f.Next();
        });
        frame.answers = {Answer::kOk, Answer::kYes};
        discovery_.finds.clear();
        sheet.RunWizard(frame);
        if (c.badField < 0) {
            EXPECT_EQ(1u, discovery_.finds.size()) << "searched";
            continue;
        }
        ASSERT_FALSE(frame.messages.empty());
        EXPECT_EQ(wizard::Text(wiztext::kFieldErrors[c.badField]), frame.messages[0].text);
        EXPECT_EQ(u"NORVA网络打印机安装向导 - 错误", frame.messages[0].title);
        EXPECT_EQ(wizard::Buttons::kOk, frame.messages[0].buttons);
        EXPECT_EQ(wizard::Icon::kError, frame.messages[0].icon);
        EXPECT_EQ(std::make_pair(IDC_IP_ADDRESS, c.badField), frame.Page(0).focus);
        EXPECT_TRUE(discovery_.finds.empty()) << "no search for a bad address";
        EXPECT_EQ(0u, frame.current);
    }
}

// Leaving the wizard while the address is searched for cancels the search and ends the wizard
// as cancelled: the printer it found anyway is not kept, and nothing is asked.
TEST_F(AddressWizard, LeavingDuringTheSearchCancelsItAndKeepsNothing) {
    discovery_.searches = {{kLab1}};
    discovery_.searchUntilCancelled = true;
    EXPECT_EQ(0, Run([](FakeFrame& f) {
                  TypeAddress(f, 192, 168, 0, 20);
                  f.leaveDuringSearches = true;
                  f.Next();
                  EXPECT_TRUE(f.closed);
                  EXPECT_EQ(0u, f.current);
              }));
    EXPECT_EQ(nullptr, sheet_.Found());
    EXPECT_EQ(1, discovery_.cancels);
    EXPECT_TRUE(frame_->messages.empty()) << "no not-found or port question";
    EXPECT_TRUE(discovery_.portQuestions.empty());
    EXPECT_FALSE(discovery_.recordsAlive);
    EXPECT_EQ(discovery_.starts, discovery_.stops);
}

// The search runs off the page's thread; the record is copied and freed on the page's thread.
TEST_F(AddressWizard, AFoundPrinterIsCopiedAndShown) {
    discovery_.searches = {{kLab1}};
    int result = Run([](FakeFrame& f) {
        TypeAddress(f, 192, 168, 0, 20);
        f.Next();
        ASSERT_EQ(1u, f.current);
        EXPECT_EQ(u"192.168.0.20", f.Current().texts[IDC_SETTING_IP]);
        EXPECT_EQ(u"255.255.255.0", f.Current().texts[IDC_SETTING_MASK]);
        EXPECT_EQ(u"192.168.0.1", f.Current().texts[IDC_SETTING_GATEWAY]);
        EXPECT_TRUE(f.backButton);
        f.Next();
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"192.168.0.20", SearchByIpAddress}}),
              discovery_.finds);
    ASSERT_NE(nullptr, sheet_.Found());
    EXPECT_EQ(Ip(192, 168, 0, 20), sheet_.Found()->ipAddress) << "the copy outlives the search";
    EXPECT_STREQ("021a2b3c4d5e", sheet_.Found()->hardwareAddress.get());
    EXPECT_STREQ("Lab Printer 1", sheet_.Found()->description.get());
    EXPECT_EQ(discovery_.starts, discovery_.stops);
    ASSERT_EQ(1u, discovery_.searchThreads.size());
    EXPECT_NE(std::this_thread::get_id(), discovery_.searchThreads[0]);
    EXPECT_EQ(std::vector<std::thread::id>{std::this_thread::get_id()}, discovery_.stopThreads);
}

TEST_F(AddressWizard, ZeroMaskAndGatewayShowAsZeroAddresses) {
    discovery_.searches = {{kBare}};
    Run([](FakeFrame& f) {
        TypeAddress(f, 10, 0, 0, 5);
        f.Next();
        EXPECT_EQ(u"0.0.0.0", f.Current().texts[IDC_SETTING_MASK]);
        EXPECT_EQ(u"0.0.0.0", f.Current().texts[IDC_SETTING_GATEWAY]);
    });
}

TEST_F(AddressWizard, NotFoundYesLetsTheUserCorrectTheAddress) {
    discovery_.searches = {{kLab1}};
    answers_ = {Answer::kYes};
    int result = Run([](FakeFrame& f) {
        TypeAddress(f, 192, 168, 0, 99);
        f.Next();
        EXPECT_EQ(0u, f.current);
        EXPECT_FALSE(f.Current().busy) << "the busy cursor is gone after the search";
        TypeAddress(f, 192, 168, 0, 20);
        f.Next();
        EXPECT_EQ(1u, f.current);
        EXPECT_FALSE(f.Current().busy);
        f.Next();
    });
    EXPECT_EQ(1, result);
    ASSERT_EQ(1u, frame_->messages.size());
    EXPECT_EQ(wizard::Text(wiztext::kNotFoundQuestion), frame_->messages[0].text);
    EXPECT_EQ(u"NORVA网络打印机安装向导 - 错误", frame_->messages[0].title);
    EXPECT_EQ(wizard::Icon::kWarning, frame_->messages[0].icon);
    EXPECT_EQ(2u, discovery_.finds.size());
}

TEST_F(AddressWizard, NotFoundNoEndsWithoutAPrinter) {
    discovery_.searches = {{}};
    answers_ = {Answer::kNo};
    EXPECT_EQ(0, Run([](FakeFrame& f) {
                  TypeAddress(f, 192, 168, 0, 20);
                  f.Next();
              }));
    EXPECT_TRUE(frame_->closed);
    EXPECT_EQ(nullptr, sheet_.Found());
}

TEST_F(AddressWizard, HardwareModeChecksOnlyTheLength) {
    discovery_.searches = {{kLab1}};
    answers_ = {Answer::kOk, Answer::kOk, Answer::kYes};
    Run([](FakeFrame& f) {
        f.Click(IDC_HW_RADIO);
        FakeView& page = f.Current();
        EXPECT_TRUE(page.IsChecked(IDC_HW_RADIO));
        EXPECT_FALSE(page.IsChecked(IDC_IP_RADIO));
        EXPECT_FALSE(page.IsEnabled(IDC_IP_ADDRESS));
        EXPECT_EQ(wizard::Text(wiztext::kHardwareHelp), page.texts[IDC_HELP_TEXT]);
        EXPECT_EQ(IDC_HW_ADDRESS, page.focus.first);
        page.texts[IDC_HW_ADDRESS] = u"0060b08fbb4";
        f.Next();
        page.texts[IDC_HW_ADDRESS] = u"00-60-b0-8f-bb-49";
        f.Next();
        // Twelve characters are searched for, whatever they are; upper case never matches.
        page.texts[IDC_HW_ADDRESS] = u"021A2B3C4D5E";
        f.Next();
    });
    ASSERT_EQ(3u, frame_->messages.size());
    EXPECT_EQ(wizard::Text(wiztext::kHardwareAddressError), frame_->messages[0].text);
    EXPECT_EQ(wizard::Text(wiztext::kHardwareAddressError), frame_->messages[1].text);
    EXPECT_EQ(wizard::Text(wiztext::kNotFoundQuestion), frame_->messages[2].text);
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"021A2B3C4D5E", SearchByHardwareAddress}}),
              discovery_.finds);
}

TEST_F(AddressWizard, SwitchingModesKeepsTheTypedTextAndUsesOnlyTheActiveOne) {
    discovery_.searches = {{kLab1}};
    Run([](FakeFrame& f) {
        f.Click(IDC_HW_RADIO);
        f.Current().texts[IDC_HW_ADDRESS] = u"021a2b3c4d5e";
        f.Click(IDC_IP_RADIO);
        EXPECT_EQ(u"021a2b3c4d5e", f.Current().texts[IDC_HW_ADDRESS]);
        EXPECT_FALSE(f.Current().IsEnabled(IDC_HW_ADDRESS));
        TypeAddress(f, 192, 168, 0, 20);
        f.Next();
    });
    ASSERT_EQ(1u, discovery_.finds.size());
    EXPECT_EQ(SearchByIpAddress, discovery_.finds[0].second);
}

TEST_F(AddressWizard, TheNewerPrinterAfterBackIsTheOneUsed) {
    discovery_.searches = {{kLab1, kBare}};
    int result = Run([](FakeFrame& f) {
        TypeAddress(f, 192, 168, 0, 20);
        f.Next();
        f.Back();
        TypeAddress(f, 10, 0, 0, 5);
        f.Next();
        EXPECT_EQ(u"10.0.0.5", f.Current().texts[IDC_SETTING_IP]);
        f.Next();
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ(Ip(10, 0, 0, 5), sheet_.Found()->ipAddress);
}

TEST_F(AddressWizard, AnExistingPortIsAskedAbout) {
    discovery_.searches = {{kLab1}};
    discovery_.existingPorts = {u"NORVA_192.168.0.20"};
    answers_ = {Answer::kNo};
    EXPECT_EQ(0, Run([](FakeFrame& f) {
                  TypeAddress(f, 192, 168, 0, 20);
                  f.Next();
              }));
    ASSERT_EQ(1u, frame_->messages.size());
    EXPECT_EQ(u"NORVA网络打印机安装向导 - 错误.", frame_->messages[0].title);
    EXPECT_EQ(wizard::Text(wiztext::kPortExistsQuestion), frame_->messages[0].text);
}

}  // namespace
}  // namespace nvtest
