// A wizard frame and page views in memory, driven by a test script, and a discovery service
// that answers with prepared printers: the page logic without a toolkit or a network.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "wizard/discovery_service.h"
#include "wizard/wizard_page.h"

namespace nvtest {

using wizard::Answer;
using wizard::Message;
using wizard::Text;

// One page's window.
class FakeView : public wizard::WizardView {
  public:
    explicit FakeView(struct FakeFrame* frame) : frame_(frame) {}

    void SetFrameButtons(bool back, bool next) override;
    void EnableCancel(bool enabled) override;
    void RequestClose() override;
    void SetText(int id, const Text& text) override { texts[id] = text; }
    Text GetText(int id) override;
    void Enable(int id, bool enabled) override { enabled_[id] = enabled; }
    void SetChecked(int id, bool checked) override { checked_[id] = checked; }
    void SetFocus(int id, int field) override { focus = {id, field}; }
    std::array<int, 4> AddressFields(int) override { return address; }
    void ListSetUp(int, const std::vector<Text>& headers, int width) override {
        columns = headers;
        columnWidth = width;
    }
    void ListDeleteAll(int) override { rows.clear(), selected.clear(); }
    void ListInsertRow(int, int row, const Text& first) override;
    void ListSetCell(int, int row, int column, const Text& text) override {
        rows[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
    }
    int ListRowCount(int) override { return static_cast<int>(rows.size()); }
    int ListFirstSelected(int) override { return selected.empty() ? -1 : *selected.begin(); }
    // As the Windows list view: the row above `row` exists only when `row` does.
    int ListRowAbove(int, int row) override {
        return row >= 1 && row < static_cast<int>(rows.size()) ? row - 1 : -1;
    }
    Text ListCell(int, int row, int column) override {
        return rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
    }
    Answer Ask(const Message& message) override;
    void SetBusy(bool on) override { busy = on; }
    // On a thread of its own, as the views run it; the frame's buttons are off meanwhile. With
    // the frame's leaveDuringSearches the user leaves the wizard while the work runs.
    bool RunInBackground(const std::function<void()>& work,
                         const std::function<void()>& cancel) override;
    HWND Window() override { return nullptr; }

    bool IsEnabled(int id) const { return !enabled_.count(id) || enabled_.at(id); }
    bool IsChecked(int id) const { return checked_.count(id) && checked_.at(id); }

    std::map<int, Text> texts;
    std::array<int, 4> address{0, 0, 0, 0};
    std::vector<Text> columns;
    int columnWidth = 0;
    std::vector<std::vector<Text>> rows;
    std::set<int> selected;
    std::pair<int, int> focus{0, -1};
    bool busy = false;

  private:
    struct FakeFrame* frame_;
    std::map<int, bool> enabled_;
    std::map<int, bool> checked_;
};

// The frame: shows one page at a time as a property sheet in wizard mode does, and runs the
// test's script of user actions inside its modal loop.
struct FakeFrame : wizard::WizardFrame {
    using Script = std::function<void(FakeFrame&)>;
    explicit FakeFrame(Script userActions) : script(std::move(userActions)) {}

    DWORD RunModal(const Text& caption, const std::vector<wizard::CWizardPage*>& pages) override;

    // The user's actions; each is ignored once the frame has closed.
    void Next();
    void Back();
    void Click(int id);
    FakeView& Page(size_t index) { return *views[index]; }
    FakeView& Current() { return *views[current]; }

    Script script;
    std::vector<wizard::CWizardPage*> pages;
    std::vector<std::unique_ptr<FakeView>> views;
    std::vector<bool> setUp;
    std::vector<bool> shown;
    size_t current = 0;
    bool closed = false;
    bool backButton = false;
    bool nextButton = false;
    bool cancelEnabled = true;
    bool busyWhileAsking = false;
    int backgroundRuns = 0;
    bool leaveDuringSearches = false;  // Escape pressed while each search runs
    std::deque<Answer> answers;        // the user's answers to the message boxes, in order
    std::vector<Message> messages;     // every message box shown

  private:
    void Show(size_t index);
};

// Discovery that answers from prepared printers.
class FakeDiscovery : public wizard::DiscoveryService {
  public:
    struct Printer {
        DWORD ip;
        DWORD mask;
        DWORD gateway;
        const char* mac;
        const char* description;
    };

    void StartDiscovery() override { ++starts; }
    void StopDiscovery() override;
    PrinterRecord* BroadcastSearch(HWND, int transport) override;
    PrinterRecord* FindPrinter(HWND, const char* address, int mode) override;
    // From the page's thread while the search waits on its own.
    void CancelSearch() override;
    bool PortExists(const WCHAR* portName) override {
        portQuestions.push_back(portName);
        return existingPorts.count(portName) != 0;
    }

    // Each search answers with the next of these sets (the last one again when they run out).
    std::vector<std::vector<Printer>> searches;
    std::set<Text> existingPorts;
    int starts = 0;
    int stops = 0;
    int broadcasts = 0;
    std::vector<std::pair<std::string, int>> finds;  // address text and mode of FindPrinter
    std::vector<Text> portQuestions;
    bool recordsAlive = false;  // records were handed out and not yet freed
    // Each search runs until it is cancelled (at most 10 s), then answers all the same: a
    // result the page must not use once the user has left.
    bool searchUntilCancelled = false;
    int cancels = 0;
    // The threads that searched and that freed the records, call by call.
    std::vector<std::thread::id> searchThreads;
    std::vector<std::thread::id> stopThreads;

  private:
    PrinterRecord* Answer(const std::vector<Printer>& printers);
    std::vector<Printer> NextSearch();
    void AwaitCancel();
    std::vector<std::unique_ptr<PrinterRecord>> records_;
    std::mutex cancelMutex_;
    std::condition_variable cancelSignal_;
    bool cancelled_ = false;
};

// Installs a fake discovery for the life of the object.
class ScopedDiscovery {
  public:
    explicit ScopedDiscovery(FakeDiscovery* fake) { wizard::SetDiscovery(fake); }
    ~ScopedDiscovery() { wizard::SetDiscovery(nullptr); }
};

// Host-order address from four octets.
inline DWORD Ip(int a, int b, int c, int d) {
    return (static_cast<DWORD>(a) << 24) | (static_cast<DWORD>(b) << 16) |
           (static_cast<DWORD>(c) << 8) | static_cast<DWORD>(d);
}

}  // namespace nvtest
