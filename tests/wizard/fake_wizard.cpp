#include "tests/wizard/fake_wizard.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "discover/printerlist.h"

namespace nvtest {

// --- FakeView ---

void FakeView::SetFrameButtons(bool back, bool next) {
    frame_->backButton = back;
    frame_->nextButton = next;
}

void FakeView::EnableCancel(bool enabled) {
    frame_->cancelEnabled = enabled;
}

void FakeView::RequestClose() {
    frame_->closed = true;
}

Text FakeView::GetText(int id) {
    auto it = texts.find(id);
    return it == texts.end() ? Text() : it->second;
}

void FakeView::ListInsertRow(int, int row, const Text& first) {
    std::vector<Text> cells(5);
    cells[0] = first;
    rows.insert(rows.begin() + row, cells);
}

Answer FakeView::Ask(const Message& message) {
    frame_->messages.push_back(message);
    frame_->busyWhileAsking = frame_->busyWhileAsking || busy;
    if (frame_->answers.empty()) {
        return message.buttons == wizard::Buttons::kOk ? Answer::kOk : Answer::kNo;
    }
    Answer answer = frame_->answers.front();
    frame_->answers.pop_front();
    return answer;
}

bool FakeView::RunInBackground(const std::function<void()>& work,
                               const std::function<void()>& cancel) {
    ++frame_->backgroundRuns;
    bool back = frame_->backButton;
    bool next = frame_->nextButton;
    frame_->backButton = frame_->nextButton = false;
    std::thread worker(work);
    const bool leave = frame_->leaveDuringSearches;
    if (leave) {
        cancel();
    }
    worker.join();
    frame_->backButton = back;
    frame_->nextButton = next;
    return !leave;
}

// --- FakeFrame ---

DWORD FakeFrame::RunModal(const Text&, const std::vector<wizard::CWizardPage*>& sheetPages) {
    pages = sheetPages;
    for (auto* page : pages) {
        views.push_back(std::make_unique<FakeView>(this));
        page->SetView(views.back().get());
        setUp.push_back(false);
        shown.push_back(false);
    }
    Show(0);
    if (!closed && script) {
        script(*this);
    }
    return ERROR_SUCCESS;
}

void FakeFrame::Show(size_t index) {
    current = index;
    if (!setUp[index]) {
        setUp[index] = true;
        pages[index]->SetUpPage();
    }
    if (!closed) {
        pages[index]->ActivatePage();
    }
    if (!closed && !shown[index]) {
        shown[index] = true;
        pages[index]->PageShown();
    }
}

void FakeFrame::Next() {
    if (closed || !nextButton) {
        return;
    }
    if (pages[current]->HandleNext() && !closed && current + 1 < pages.size()) {
        Show(current + 1);
    }
}

void FakeFrame::Back() {
    if (!closed && backButton && current > 0) {
        Show(current - 1);
    }
}

void FakeFrame::Click(int id) {
    if (!closed && Current().IsEnabled(id)) {
        pages[current]->HandleCommand(id);
    }
}

// --- FakeDiscovery ---

std::vector<FakeDiscovery::Printer> FakeDiscovery::NextSearch() {
    if (searches.empty()) {
        return {};
    }
    std::vector<Printer> result = searches.front();
    if (searches.size() > 1) {
        searches.erase(searches.begin());
    }
    return result;
}

static std::unique_ptr<char[]> Copy(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    std::unique_ptr<char[]> copy(new char[strlen(text) + 1]);
    strcpy(copy.get(), text);
    return copy;
}

PrinterRecord* FakeDiscovery::Answer(const std::vector<Printer>& printers) {
    PrinterRecord* newest = nullptr;
    for (const Printer& p : printers) {
        auto record = std::make_unique<PrinterRecord>();
        record->ipAddress = p.ip;
        record->subnetMask = p.mask;
        record->gateway = p.gateway;
        record->hardwareAddress = Copy(p.mac);
        record->description = Copy(p.description);
        record->link = newest;
        newest = record.get();
        records_.push_back(std::move(record));
    }
    recordsAlive = newest != nullptr;
    return newest;
}

void FakeDiscovery::CancelSearch() {
    ++cancels;
    std::lock_guard<std::mutex> lock(cancelMutex_);
    cancelled_ = true;
    cancelSignal_.notify_all();
}

void FakeDiscovery::AwaitCancel() {
    if (searchUntilCancelled) {
        std::unique_lock<std::mutex> lock(cancelMutex_);
        cancelSignal_.wait_for(lock, std::chrono::seconds(10), [this] { return cancelled_; });
    }
}

void FakeDiscovery::StopDiscovery() {
    {
        std::lock_guard<std::mutex> lock(cancelMutex_);
        cancelled_ = false;
    }
    ++stops;
    stopThreads.push_back(std::this_thread::get_id());
    // Records must not be touched after this: overwrite them so a page that kept a pointer
    // shows garbage instead of the right values.
    for (auto& record : records_) {
        record->ipAddress = 0xDEADBEEF;
        if (record->description) {
            record->description[0] = '!';
        }
    }
    records_.clear();
    recordsAlive = false;
}

PrinterRecord* FakeDiscovery::BroadcastSearch(HWND, int transport) {
    ++broadcasts;
    searchThreads.push_back(std::this_thread::get_id());
    AwaitCancel();
    return transport == 0 ? Answer(NextSearch()) : nullptr;
}

PrinterRecord* FakeDiscovery::FindPrinter(HWND, const char* address, int mode) {
    finds.emplace_back(address, mode);
    searchThreads.push_back(std::this_thread::get_id());
    AwaitCancel();
    std::vector<Printer> candidates = NextSearch();
    std::vector<Printer> found;
    for (const Printer& p : candidates) {
        bool match = mode == SearchByIpAddress
                         ? wizard::DottedText(p.ip) == Text(address, address + strlen(address))
                         : (p.mac != nullptr && strcmp(p.mac, address) == 0);
        if (match) {
            found.push_back(p);
        }
    }
    return Answer(found);
}

}  // namespace nvtest
